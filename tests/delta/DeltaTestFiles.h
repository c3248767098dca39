#pragma once

#include <fcntl.h>

#include <cstdint>
#include <random>
#include <string>

#include "TempRoot.h"
#include "delta/BlockIndex.h"
#include "io/FileDescriptor.h"

// Pseudo-random bytes, the same for the same seed.
inline std::string randomBytes(size_t count, uint32_t seed) {
    std::mt19937 random(seed);
    std::string bytes(count, '\0');
    for (char& c : bytes) {
        c = static_cast<char>(random() & 0xff);
    }
    return bytes;
}

// bytes written to name below root, opened for reading.
inline FileDescriptor fileWith(const TempRoot& root, const std::string& name,
                               const std::string& bytes) {
    root.write(name, bytes);
    return FileDescriptor(::open(root.file(name).c_str(), O_RDONLY | O_CLOEXEC));
}

inline BlockIndex indexOf(const std::string& bytes, uint32_t blockSize) {
    TempRoot root;
    return BlockIndex::ofFile(fileWith(root, "indexed", bytes).get(), blockSize);
}
