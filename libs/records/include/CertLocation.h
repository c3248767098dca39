#pragma once

#include <utility>

#include "String.h"

// How update servers' certificates are checked (conf/network.xml
// ServerVerify): against the system's trust store, against a configured CA
// file or hashed directory (file; directory is only a prefix some callers
// give), not at all (ssl.verify none), or a value that is not understood,
// which must fail every connection.
struct CertLocation {
    enum class Mode { kSystem, kPath, kNone, kInvalid };

    CertLocation() = default;
    CertLocation(String directoryPath, String filePath)
        : directory(std::move(directoryPath)), file(std::move(filePath)) {}

    String directory;
    String file;
    Mode mode = Mode::kSystem;
    String invalidValue;  // kInvalid: the ssl.verify value as stored
};
