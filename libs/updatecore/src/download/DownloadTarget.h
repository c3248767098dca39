#pragma once

#include <cstdint>

#include "String.h"

class DirectoryHandle;
class StreamingDigest;
struct DeltaSource;

// The file of one download and where it goes.
struct DownloadTarget {
    int32_t id;  // product id
    String name;
    String url;
    String localFile;
    // The trusted directory localFile lies in: the file is opened below it,
    // never through a link.
    const DirectoryHandle* directory;
    int32_t size;
    // Fed with the file's bytes as they are stored, when not null.
    StreamingDigest* digest = nullptr;
    // Where the file may be rebuilt from instead, when not null.
    const DeltaSource* delta = nullptr;
};
