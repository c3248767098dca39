#pragma once

#include "String.h"

// Where a package's delta comes from: the block index the server offers
// for the new file, and the seed, the product's previous package file,
// whose blocks it need not fetch again.
struct DeltaSource {
    String indexUrl;  // relative like the package's url, or absolute
    String sha256;    // the file's announced SHA-256, "" when none
    int seedFd;       // open for reading
};
