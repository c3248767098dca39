#include "delta/BlockMatcher.h"

#include <algorithm>
#include <bit>
#include <numeric>
#include <optional>
#include <tuple>
#include <utility>

#include "BlockDigest.h"
#include "SeedWindow.h"
#include "delta/RollingChecksum.h"

namespace {
// The bit set has 32 to 64 bits per block, so that a position of the seed
// holding none of the blocks passes it at most once in 32 times.
constexpr unsigned kFilterExtraBits = 5;
constexpr unsigned kMaxFilterBits = 25;  // 4 MiB
constexpr size_t kMinSeedBuffer = 1 << 20;
}  // namespace

BlockMatcher::BlockMatcher(const BlockIndex& index)
    : blockSize_(index.blockSize()),
      fullBlocks_(static_cast<size_t>(index.fileSize() / index.blockSize())),
      lastLength_(static_cast<uint32_t>(index.fileSize() % index.blockSize())),
      blockCount_(index.blockCount()) {
    unsigned bucketBits =
        std::clamp<unsigned>(std::bit_width(fullBlocks_), 1, kMaxFilterBits - kFilterExtraBits);
    unsigned filterBits = std::max(bucketBits + kFilterExtraBits, 6u);
    bucketShift_ = 32 - bucketBits;
    filterShift_ = 32 - filterBits;
    if (blockCount_ > 0) {
        lastBlock_ = index.blocks().back();
    }
    buildClasses(index.blocks());
    buildBuckets();
}

void BlockMatcher::buildClasses(const std::vector<BlockIndex::Block>& blocks) {
    // Sorted by bucket, then by sums: equal blocks are neighbours, and the
    // classes of a bucket one run.
    members_.resize(fullBlocks_);
    std::iota(members_.begin(), members_.end(), 0u);
    std::sort(members_.begin(), members_.end(), [&](uint32_t a, uint32_t b) {
        uint32_t bucketA = bucket(blocks[a].weak), bucketB = bucket(blocks[b].weak);
        if (bucketA != bucketB) {
            return bucketA < bucketB;
        }
        return std::tie(blocks[a].weak, blocks[a].strong, a) <
               std::tie(blocks[b].weak, blocks[b].strong, b);
    });
    classOf_.resize(fullBlocks_);
    for (uint32_t i = 0; i < members_.size(); ++i) {
        const BlockIndex::Block& sums = blocks[members_[i]];
        if (classes_.empty() || classes_.back().weak != sums.weak ||
            classes_.back().strong != sums.strong) {
            classes_.push_back({sums.weak, sums.strong, i, 0});
        }
        ++classes_.back().memberCount;
        classOf_[members_[i]] = static_cast<uint32_t>(classes_.size() - 1);
    }
}

void BlockMatcher::buildBuckets() {
    bucketStart_.assign((size_t{1} << (32 - bucketShift_)) + 1, 0);
    filter_.assign((size_t{1} << (32 - filterShift_)) / 64, 0);
    for (const SumClass& sums : classes_) {
        ++bucketStart_[bucket(sums.weak) + 1];
        uint32_t bit = mix(sums.weak) >> filterShift_;
        filter_[bit >> 6] |= uint64_t{1} << (bit & 63);
    }
    std::partial_sum(bucketStart_.begin(), bucketStart_.end(), bucketStart_.begin());
}

std::vector<int64_t> BlockMatcher::match(int seedFd) const {
    Progress progress{std::vector<int64_t>(blockCount_, kMissing), fullBlocks_, kNoBlock};
    BlockDigest digest;
    SeedWindow seed(seedFd, blockSize_, std::max<size_t>(16 * size_t{blockSize_}, kMinSeedBuffer));
    scanFullBlocks(seed, digest, progress);
    matchLastBlock(seed, digest, progress);
    return std::move(progress.matches);
}

void BlockMatcher::scanFullBlocks(SeedWindow& seed, const BlockDigest& digest,
                                  Progress& progress) const {
    RollingChecksum weak(blockSize_);
    uint64_t position = 0;
    bool fresh = true;
    while (progress.missingFullBlocks > 0 && seed.hold(position, blockSize_)) {
        if (fresh) {
            weak.init(seed.at(position));
            fresh = false;
        }
        size_t block = blockAt(seed.at(position), weak.value(), digest, progress);
        if (block != kNoBlock) {
            record(block, position, progress);
            position += blockSize_;
            fresh = true;
        } else if (seed.hold(position, size_t{blockSize_} + 1)) {
            position = rollWhileRejected(seed, position, weak);
        } else {
            break;
        }
    }
}

// Rolls the weak sum on at least one byte, and on through the bytes held
// while the bit set turns the window away. The new position.
uint64_t BlockMatcher::rollWhileRejected(const SeedWindow& seed, uint64_t position,
                                         RollingChecksum& weak) const {
    const uint8_t* window = seed.at(position);
    const size_t length = blockSize_;
    const size_t rolls = static_cast<size_t>(seed.end() - position) - length;
    RollingChecksum sum = weak;
    size_t i = 0;
    do {
        sum.roll(window[i], window[i + length]);
        ++i;
    } while (i < rolls && !maybe(sum.value()));
    weak = sum;
    return position + i;
}

// A block whose sums the window has, or kNoBlock. The block expected after
// the last match goes first; the strong sum is computed at most once.
size_t BlockMatcher::blockAt(const uint8_t* window, uint32_t weak, const BlockDigest& digest,
                             Progress& progress) const {
    size_t expected = std::exchange(progress.expectedBlock, kNoBlock);
    std::optional<BlockDigest::Strong> strong;
    auto strongSum = [&]() -> const BlockDigest::Strong& {
        if (!strong) {
            strong = digest.strong(window, blockSize_);
        }
        return *strong;
    };
    if (expected != kNoBlock) {
        const SumClass& sums = classes_[classOf_[expected]];
        if (sums.weak == weak && sums.strong == strongSum()) {
            return expected;
        }
    }
    if (!maybe(weak)) {
        return kNoBlock;
    }
    uint32_t b = bucket(weak);
    for (uint32_t c = bucketStart_[b]; c < bucketStart_[b + 1]; ++c) {
        if (classes_[c].weak == weak && classes_[c].strong == strongSum()) {
            return representative(classes_[c], progress);
        }
    }
    return kNoBlock;
}

// The block the scan goes on from: the first one still missing, else the first.
size_t BlockMatcher::representative(const SumClass& sums, const Progress& progress) const {
    const uint32_t* first = members_.data() + sums.firstMember;
    const uint32_t* last = first + sums.memberCount;
    const uint32_t* missing = std::find_if(
        first, last, [&](uint32_t block) { return progress.matches[block] == kMissing; });
    return missing != last ? *missing : *first;
}

void BlockMatcher::record(size_t block, uint64_t position, Progress& progress) const {
    const SumClass& sums = classes_[classOf_[block]];
    for (uint32_t i = 0; i < sums.memberCount; ++i) {
        int64_t& match = progress.matches[members_[sums.firstMember + i]];
        if (match == kMissing) {
            match = static_cast<int64_t>(position);
            --progress.missingFullBlocks;
        }
    }
    progress.expectedBlock = block + 1 < fullBlocks_ ? block + 1 : kNoBlock;
}

void BlockMatcher::matchLastBlock(SeedWindow& seed, const BlockDigest& digest,
                                  Progress& progress) const {
    if (lastLength_ == 0) {
        return;
    }
    seed.readToEnd();
    const uint8_t* tail = seed.tail(lastLength_);
    if (tail != nullptr && RollingChecksum::of(tail, lastLength_) == lastBlock_.weak &&
        digest.strong(tail, lastLength_) == lastBlock_.strong) {
        progress.matches.back() = static_cast<int64_t>(seed.end() - lastLength_);
    }
}
