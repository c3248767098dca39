#pragma once

// A zip file's central directory, read only for what a block delta can
// gain: a member compressed with deflate (or anything but "stored") turns a
// small change into a change of the rest of the member.
class ZipCentralDirectory {
public:
    // Whether the file behind fd (read with pread) starts as a zip file does
    // and its central directory names a member with a compression method
    // other than stored. A file that is no zip, a malformed or ZIP64 one
    // and a read error all give false.
    static bool compressesAnyMember(int fd);
};
