#include "install/DiskSpace.h"

#include <sys/statvfs.h>

#include <cerrno>
#include <cstring>
#include <string>

bool DiskSpace::statvfsProbe(const String& path, uint64_t& available) {
    struct statvfs info {};
    if (::statvfs(path.c_str(), &info) != 0) {
        return false;
    }
    available = static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
    return true;
}

String DiskSpace::shortfall(const String& directory, int64_t size, int64_t onDisk) const {
    uint64_t available = 0;
    if (!probe_(directory, available)) {
        return String("free disk space unknown: ") + std::strerror(errno);
    }
    if (available >= needed(size, onDisk)) {
        return String();
    }
    return String("not enough disk space: ")
        .append(static_cast<long>(needed(size, onDisk)))
        .append(" bytes needed, ")
        .append(static_cast<long>(available))
        .append(" free");
}

uint64_t DiskSpace::missing(const String& directory, int64_t size, int64_t onDisk) const {
    uint64_t available = 0;
    if (!probe_(directory, available)) {
        return 0;
    }
    return available >= needed(size, onDisk) ? 0 : needed(size, onDisk) - available;
}

uint64_t DiskSpace::needed(int64_t size, int64_t onDisk) {
    return (size > onDisk ? static_cast<uint64_t>(size - onDisk) : 0) + kReserve;
}

String DiskSpace::unpackedShortfall(const String& directory, uint64_t size) const {
    String prefix = "unpacked size " + String(std::to_string(size)) + " bytes: ";
    if (size > kMaxUnpacked) {
        return prefix + "more than the limit of " + String(std::to_string(kMaxUnpacked)) + " bytes";
    }
    uint64_t available = 0;
    if (!probe_(directory, available)) {
        return prefix + "free disk space unknown: " + std::strerror(errno);
    }
    if (available < kReserve || size > available - kReserve) {
        return prefix + "more than the " + String(std::to_string(available)) +
               " bytes free less the reserve of " + String(std::to_string(kReserve));
    }
    return String();
}
