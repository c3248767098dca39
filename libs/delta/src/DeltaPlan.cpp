#include "delta/DeltaPlan.h"

#include "delta/BlockMatcher.h"

namespace {

constexpr char kUnit[] = "bytes=";

std::string rangeText(const ByteRange& range) {
    return std::to_string(range.first) + "-" + std::to_string(range.last);
}

bool fetched(const DeltaPiece& piece) {
    return piece.seedOffset == BlockMatcher::kMissing;
}

// Whether next goes on where piece ends, in the new file and in its source.
bool continues(const DeltaPiece& piece, const DeltaPiece& next) {
    if (fetched(piece) || fetched(next)) {
        return fetched(piece) && fetched(next);
    }
    return piece.seedOffset + static_cast<int64_t>(piece.length) == next.seedOffset;
}

}  // namespace

DeltaPlan::DeltaPlan(const BlockIndex& index, const std::vector<int64_t>& matches, uint64_t from) {
    if (matches.size() != index.blockCount()) {
        throw DeltaIndexException("the matches do not fit the index", "delta/DeltaPlan", __LINE__);
    }
    for (size_t i = 0; i < matches.size(); ++i) {
        uint64_t start = index.blockOffset(i);
        uint64_t end = start + index.blockLength(i);
        if (end <= from) {
            continue;
        }
        // The block holding the resume point is cut there.
        uint64_t skip = from > start ? from - start : 0;
        int64_t seedOffset = matches[i] == BlockMatcher::kMissing
                                 ? BlockMatcher::kMissing
                                 : matches[i] + static_cast<int64_t>(skip);
        add({start + skip, end - start - skip, seedOffset});
    }
}

void DeltaPlan::add(DeltaPiece piece) {
    (fetched(piece) ? fetchBytes_ : seedBytes_) += piece.length;
    if (!pieces_.empty() && continues(pieces_.back(), piece)) {
        pieces_.back().length += piece.length;
    } else {
        pieces_.push_back(piece);
    }
}

std::vector<std::vector<ByteRange>> DeltaPlan::requests() const {
    std::vector<std::vector<ByteRange>> groups;
    size_t headerBytes = 0;
    for (const DeltaPiece& piece : pieces_) {
        if (!fetched(piece)) {
            continue;
        }
        ByteRange range{piece.offset, piece.offset + piece.length - 1};
        size_t added = rangeText(range).size();
        if (groups.empty() || groups.back().size() == kMaxRangesPerRequest ||
            headerBytes + 1 + added > kMaxRangeHeaderBytes) {
            groups.emplace_back();
            headerBytes = sizeof kUnit - 1 + added;
        } else {
            headerBytes += 1 + added;  // a comma before it
        }
        groups.back().push_back(range);
    }
    return groups;
}

std::string DeltaPlan::rangeHeader(const std::vector<ByteRange>& ranges) {
    std::string header = kUnit;
    for (size_t i = 0; i < ranges.size(); ++i) {
        if (i > 0) {
            header += ',';
        }
        header += rangeText(ranges[i]);
    }
    return header;
}
