#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "delta/BlockIndex.h"

struct ByteRange {
    uint64_t first;
    uint64_t last;  // inclusive, as in HTTP
    bool operator==(const ByteRange&) const = default;
};

// One piece of the new file, in file order: copied from the seed, or fetched.
struct DeltaPiece {
    uint64_t offset;
    uint64_t length;
    int64_t seedOffset;  // BlockMatcher::kMissing: fetch
    bool operator==(const DeltaPiece&) const = default;
};

// How the new file is rebuilt from `from` (the resume point: bytes before it
// are already on disk) to its end, given the matches BlockMatcher found.
class DeltaPlan {
public:
    static constexpr size_t kMaxRangesPerRequest = 64;
    static constexpr size_t kMaxRangeHeaderBytes = 4096;

    // matches has one entry per block of index; DeltaIndexException otherwise.
    DeltaPlan(const BlockIndex& index, const std::vector<int64_t>& matches, uint64_t from = 0);

    // From `from` to the end, in order; adjacent fetched pieces are merged, and
    // adjacent seed pieces when they follow each other in the seed too.
    const std::vector<DeltaPiece>& pieces() const { return pieces_; }
    uint64_t seedBytes() const { return seedBytes_; }
    uint64_t fetchBytes() const { return fetchBytes_; }

    // The fetched pieces as HTTP ranges, grouped per request: at most
    // kMaxRangesPerRequest ranges and a rangeHeader() of at most
    // kMaxRangeHeaderBytes each.
    std::vector<std::vector<ByteRange>> requests() const;
    // "bytes=0-99,200-299"
    static std::string rangeHeader(const std::vector<ByteRange>& ranges);

private:
    void add(DeltaPiece piece);

    std::vector<DeltaPiece> pieces_;
    uint64_t seedBytes_ = 0;
    uint64_t fetchBytes_ = 0;
};
