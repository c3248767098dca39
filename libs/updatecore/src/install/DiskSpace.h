#pragma once

#include <cstdint>
#include <functional>

#include "String.h"

// Whether a download, or an archive's unpacked members, fit on the file
// system that is to hold them, decided before any byte is written: a server
// announcing a huge size, or a small archive of a huge file, must not be
// able to fill the disk.
class DiskSpace {
public:
    // Bytes an unprivileged writer may still store on the file system of
    // path (f_bavail x f_frsize); false with errno set when unknown.
    using Probe = std::function<bool(const String& path, uint64_t& available)>;

    // What must stay free beyond the download itself.
    static constexpr uint64_t kReserve = 1024 * 1024;
    // The most an archive may unpack to, whatever the space.
    static constexpr uint64_t kMaxUnpacked = 4ULL * 1024 * 1024 * 1024;

    explicit DiskSpace(Probe probe = statvfsProbe) : probe_(std::move(probe)) {}

    static bool statvfsProbe(const String& path, uint64_t& available);

    // "" when a file of size bytes, onDisk of which are already stored,
    // fits into directory with kReserve to spare; else why not.
    String shortfall(const String& directory, int64_t size, int64_t onDisk) const;
    // The bytes to free for shortfall() to find none; 0 when it finds none
    // or the free space is unknown.
    uint64_t missing(const String& directory, int64_t size, int64_t onDisk) const;
    // "" when size unpacked bytes fit into directory with kReserve to spare
    // and stay within kMaxUnpacked; else "unpacked size N bytes: " and why.
    String unpackedShortfall(const String& directory, uint64_t size) const;

private:
    // What a file of size bytes, onDisk of them stored, needs free.
    static uint64_t needed(int64_t size, int64_t onDisk);

    Probe probe_;
};
