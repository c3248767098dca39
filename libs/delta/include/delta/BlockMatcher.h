#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "delta/BlockIndex.h"

class BlockDigest;
class RollingChecksum;
class SeedWindow;

// Which blocks of the indexed file the seed holds, at any offset of the seed.
//
// The weak sum is rolled over the seed byte by byte; a bit set of the
// index's weak sums turns most positions away with one bit test, the rest
// look in a hash table of the distinct (weak, strong) sums. A match is taken
// for every block with those sums and the scan jumps a whole block on,
// trying the block after the matched one first, so that a run of unchanged
// blocks costs one strong sum each. The short last block is only compared
// with the seed's tail of the same length.
class BlockMatcher {
public:
    static constexpr int64_t kMissing = -1;

    explicit BlockMatcher(const BlockIndex& index);

    // For each block of the index, the offset in the seed of an equal block
    // (weak and strong sums), or kMissing. Reads the seed from offset 0 to its
    // end once with pread, through a buffer of at most a few MiB.
    // IOException on a read error.
    std::vector<int64_t> match(int seedFd) const;

private:
    // Blocks with equal weak and strong sums: one hit finds them all.
    struct SumClass {
        uint32_t weak;
        std::array<uint8_t, BlockIndex::kStrongBytes> strong;
        uint32_t firstMember;  // into members_
        uint32_t memberCount;
    };
    static constexpr size_t kNoBlock = SIZE_MAX;

    // The scan so far.
    struct Progress {
        std::vector<int64_t> matches;
        size_t missingFullBlocks;
        size_t expectedBlock;  // tried first at the window after a match
    };

    void buildClasses(const std::vector<BlockIndex::Block>& blocks);
    void buildBuckets();
    uint32_t mix(uint32_t weak) const { return weak * 0x9e3779b1u; }
    bool maybe(uint32_t weak) const {
        uint32_t bit = mix(weak) >> filterShift_;
        return (filter_[bit >> 6] >> (bit & 63)) & 1;
    }
    uint32_t bucket(uint32_t weak) const { return mix(weak) >> bucketShift_; }

    void scanFullBlocks(SeedWindow& seed, const BlockDigest& digest, Progress& progress) const;
    uint64_t rollWhileRejected(const SeedWindow& seed, uint64_t position,
                               RollingChecksum& weak) const;
    size_t blockAt(const uint8_t* window, uint32_t weak, const BlockDigest& digest,
                   Progress& progress) const;
    size_t representative(const SumClass& sums, const Progress& progress) const;
    void record(size_t block, uint64_t position, Progress& progress) const;
    void matchLastBlock(SeedWindow& seed, const BlockDigest& digest, Progress& progress) const;

    uint32_t blockSize_;
    size_t fullBlocks_;
    uint32_t lastLength_;  // of a short last block, else 0
    size_t blockCount_;
    BlockIndex::Block lastBlock_{};
    std::vector<SumClass> classes_;      // grouped by bucket
    std::vector<uint32_t> members_;      // block numbers, per class
    std::vector<uint32_t> classOf_;      // per full block
    std::vector<uint32_t> bucketStart_;  // classes of bucket b: [bucketStart_[b], [b + 1])
    std::vector<uint64_t> filter_;
    unsigned bucketShift_ = 31;
    unsigned filterShift_ = 31;
};
