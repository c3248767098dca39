#include "delta/ZipCentralDirectory.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Exception.h"
#include "FdReading.h"

namespace {

constexpr uint32_t kLocalHeader = 0x04034b50;
constexpr uint32_t kCentralHeader = 0x02014b50;
constexpr uint32_t kEndOfDirectory = 0x06054b50;
constexpr size_t kCentralHeaderBytes = 46;
constexpr size_t kEndBytes = 22;
constexpr size_t kMaxComment = 0xffff;

uint32_t little(const uint8_t* bytes, int length) {
    uint32_t value = 0;
    for (int i = length - 1; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return value;
}

// length bytes at offset, or an empty vector when the file has fewer.
std::vector<uint8_t> readAt(int fd, uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    bool whole = readUpToAt(fd, bytes.data(), length, offset) == length;
    return whole ? bytes : std::vector<uint8_t>();
}

// The end-of-central-directory record: the last signature in the file's
// last kEndBytes + kMaxComment bytes that leaves room for the record.
std::vector<uint8_t> endRecord(int fd, uint64_t fileSize) {
    size_t span = static_cast<size_t>(std::min<uint64_t>(fileSize, kEndBytes + kMaxComment));
    std::vector<uint8_t> tail = readAt(fd, fileSize - span, span);
    for (size_t at = tail.size() < kEndBytes ? 0 : tail.size() - kEndBytes + 1; at-- > 0;) {
        if (little(&tail[at], 4) == kEndOfDirectory) {
            return {tail.begin() + static_cast<std::ptrdiff_t>(at),
                    tail.begin() + static_cast<std::ptrdiff_t>(at + kEndBytes)};
        }
    }
    return {};
}

bool scanDirectory(int fd, uint64_t fileSize) {
    std::vector<uint8_t> end = endRecord(fd, fileSize);
    if (end.empty()) {
        return false;
    }
    uint32_t entries = little(&end[10], 2);
    uint64_t offset = little(&end[16], 4);
    uint64_t directoryEnd = offset + little(&end[12], 4);
    for (uint32_t i = 0; i < entries && offset + kCentralHeaderBytes <= directoryEnd; ++i) {
        std::vector<uint8_t> header = readAt(fd, offset, kCentralHeaderBytes);
        if (header.empty() || little(header.data(), 4) != kCentralHeader) {
            return false;
        }
        if (little(&header[10], 2) != 0) {
            return true;
        }
        offset += kCentralHeaderBytes + little(&header[28], 2) + little(&header[30], 2) +
                  little(&header[32], 2);
    }
    return false;
}

}  // namespace

bool ZipCentralDirectory::compressesAnyMember(int fd) {
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        return false;
    }
    try {
        std::vector<uint8_t> start = readAt(fd, 0, 4);
        return !start.empty() && little(start.data(), 4) == kLocalHeader &&
               scanDirectory(fd, static_cast<uint64_t>(status.st_size));
    } catch (const IOException&) {
        return false;
    }
}
