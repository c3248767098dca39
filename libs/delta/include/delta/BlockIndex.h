#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delta/DeltaIndexException.h"

// The block index a vendor publishes beside a package file: the file's size
// and SHA-256, and for each block of blockSize bytes (the last may be
// shorter) a weak rolling sum and a truncated SHA-256. docs/DELTA.md
// describes the serialized form.
class BlockIndex {
public:
    static constexpr uint32_t kVersion = 1;
    static constexpr uint32_t kDefaultBlockSize = 4096;
    static constexpr uint32_t kMinBlockSize = 1024, kMaxBlockSize = 65536;  // powers of two only
    static constexpr size_t kStrongBytes = 6;  // truncated SHA-256 of the block
    struct Block {
        uint32_t weak;
        std::array<uint8_t, kStrongBytes> strong;
        bool operator==(const Block&) const = default;
    };

    // Reads the file behind fd from its current position to its end once,
    // a few blocks at a time. IOException (the system's error text) on a
    // read error, DeltaIndexException for a block size not allowed.
    static BlockIndex ofFile(int fd, uint32_t blockSize = kDefaultBlockSize);
    // DeltaIndexException, its message the reason, for anything malformed.
    static BlockIndex parse(const std::string& bytes);
    std::string serialize() const;

    // A power of two from kMinBlockSize to kMaxBlockSize.
    static bool isValidBlockSize(uint64_t size);

    uint32_t blockSize() const { return blockSize_; }
    uint64_t fileSize() const { return fileSize_; }
    const std::array<uint8_t, 32>& fileSha256() const { return fileSha256_; }
    std::string fileSha256Hex() const;  // lower case
    size_t blockCount() const { return blocks_.size(); }
    const std::vector<Block>& blocks() const { return blocks_; }
    // blockSize, but the last block may be shorter.
    uint32_t blockLength(size_t i) const;
    // Where block i starts in the file.
    uint64_t blockOffset(size_t i) const { return static_cast<uint64_t>(i) * blockSize_; }

    bool operator==(const BlockIndex&) const = default;

private:
    BlockIndex(uint32_t blockSize, uint64_t fileSize);
    static void checkBlockSize(uint64_t size);
    static uint64_t blocksFor(uint64_t fileSize, uint32_t blockSize);

    uint32_t blockSize_;
    uint64_t fileSize_;
    std::array<uint8_t, 32> fileSha256_{};
    std::vector<Block> blocks_;
};
