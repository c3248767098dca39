#pragma once

#include <cstdint>

#include "String.h"

// The records of broken-off downloads (conf/lm-partial-files) that let a
// later run resume them, within the limits of conf/lm-partial-config.
class PartialFiles {
public:
    // The byte count to resume product id's download of url into localFile
    // from (the file's length on disk; size when the file is whole), or
    // kNone. A matching record is kept for the download to replace or drop;
    // one that does not match is dropped and takes the file on disk with it.
    static int32_t resumePoint(long id, const String& url, const String& localFile, int32_t size);
    // Records what localFile holds of a broken-off download, unless the
    // limits forbid keeping it or nothing arrived.
    static void keep(long id, const String& url, const String& localFile, int32_t size);
    // Records a download as it starts, unless the limits forbid keeping it,
    // so that a process killed while it runs leaves a record.
    static void begin(long id, const String& url, const String& localFile, int32_t size);
    // Whether there is a record of id; it is dropped when the local file
    // already holds data (localLength > 0).
    static bool consume(long id, long localLength);
    // Drops the record of id, if any.
    static void drop(long id);

    static constexpr int32_t kNone = -1;
};
