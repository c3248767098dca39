#pragma once

#include "String.h"

// The certificate file that update servers are verified against.
struct CertLocation {
    String directory;
    String file;
};
