#include "delta/BlockIndex.h"

#include <algorithm>

#include "BlockDigest.h"
#include "FdReading.h"
#include "delta/RollingChecksum.h"

namespace {

const char kSource[] = "delta/BlockIndex";
const char kMagic[8] = {'L', 'M', 'D', 'E', 'L', 'T', 'A', '\0'};
constexpr size_t kHeaderBytes = 8 + 4 + 4 + 8 + 32;
constexpr size_t kEntryBytes = 4 + BlockIndex::kStrongBytes;
// Blocks read at a time by ofFile.
constexpr size_t kBlocksPerRead = 16;

[[noreturn]] void malformed(const std::string& reason, int line) {
    throw DeltaIndexException(String(reason), kSource, line);
}

void putBigEndian(std::string& out, uint64_t value, int bytes) {
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<char>((value >> shift) & 0xff));
    }
}

// Reads big-endian numbers and raw bytes from the front of a buffer whose
// size the caller has checked.
class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    uint64_t number(int length) {
        uint64_t value = 0;
        for (int i = 0; i < length; ++i) {
            value = value << 8 | static_cast<uint8_t>(bytes_[position_++]);
        }
        return value;
    }
    template <size_t N>
    std::array<uint8_t, N> raw() {
        std::array<uint8_t, N> out;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(position_), N, out.begin());
        position_ += N;
        return out;
    }

private:
    const std::string& bytes_;
    size_t position_ = 0;
};

}  // namespace

BlockIndex::BlockIndex(uint32_t blockSize, uint64_t fileSize)
    : blockSize_(blockSize), fileSize_(fileSize) {}

bool BlockIndex::isValidBlockSize(uint64_t size) {
    return size >= kMinBlockSize && size <= kMaxBlockSize && (size & (size - 1)) == 0;
}

void BlockIndex::checkBlockSize(uint64_t size) {
    if (!isValidBlockSize(size)) {
        malformed("block size " + std::to_string(size) + " is not a power of two from 1 to 64 KiB",
                  __LINE__);
    }
}

uint64_t BlockIndex::blocksFor(uint64_t fileSize, uint32_t blockSize) {
    return fileSize / blockSize + (fileSize % blockSize != 0 ? 1 : 0);
}

uint32_t BlockIndex::blockLength(size_t i) const {
    uint64_t rest = fileSize_ - blockOffset(i);
    return static_cast<uint32_t>(std::min<uint64_t>(rest, blockSize_));
}

BlockIndex BlockIndex::ofFile(int fd, uint32_t blockSize) {
    checkBlockSize(blockSize);
    BlockIndex index(blockSize, 0);
    BlockDigest digest;
    std::vector<uint8_t> buffer(kBlocksPerRead * blockSize);
    size_t got;
    do {
        got = readUpTo(fd, buffer.data(), buffer.size());
        digest.add(buffer.data(), got);
        for (size_t at = 0; at < got; at += blockSize) {
            size_t length = std::min<size_t>(blockSize, got - at);
            const uint8_t* block = buffer.data() + at;
            index.blocks_.push_back(
                {RollingChecksum::of(block, length), digest.strong(block, length)});
        }
        index.fileSize_ += got;
    } while (got == buffer.size());
    index.fileSha256_ = digest.finish();
    return index;
}

BlockIndex BlockIndex::parse(const std::string& bytes) {
    if (!std::equal(bytes.begin(), bytes.begin() + std::min(bytes.size(), sizeof kMagic), kMagic)) {
        malformed("bad magic", __LINE__);
    }
    if (bytes.size() < kHeaderBytes) {
        malformed("truncated", __LINE__);
    }
    Reader in(bytes);
    in.raw<sizeof kMagic>();
    uint64_t version = in.number(4);
    if (version != kVersion) {
        malformed("unsupported version " + std::to_string(version), __LINE__);
    }
    uint64_t blockSize = in.number(4);
    checkBlockSize(blockSize);
    BlockIndex index(static_cast<uint32_t>(blockSize), in.number(8));
    index.fileSha256_ = in.raw<32>();

    size_t entryBytes = bytes.size() - kHeaderBytes;
    uint64_t expected = blocksFor(index.fileSize_, index.blockSize_);
    if (entryBytes % kEntryBytes != 0) {
        malformed(entryBytes / kEntryBytes < expected ? "truncated" : "trailing bytes", __LINE__);
    }
    if (entryBytes / kEntryBytes != expected) {
        malformed("block count does not match the file size", __LINE__);
    }
    index.blocks_.reserve(entryBytes / kEntryBytes);
    for (uint64_t i = 0; i < expected; ++i) {
        uint32_t weak = static_cast<uint32_t>(in.number(4));
        index.blocks_.push_back({weak, in.raw<kStrongBytes>()});
    }
    return index;
}

std::string BlockIndex::serialize() const {
    std::string out(kMagic, sizeof kMagic);
    out.reserve(kHeaderBytes + blocks_.size() * kEntryBytes);
    putBigEndian(out, kVersion, 4);
    putBigEndian(out, blockSize_, 4);
    putBigEndian(out, fileSize_, 8);
    out.append(fileSha256_.begin(), fileSha256_.end());
    for (const Block& block : blocks_) {
        putBigEndian(out, block.weak, 4);
        out.append(block.strong.begin(), block.strong.end());
    }
    return out;
}

std::string BlockIndex::fileSha256Hex() const {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t byte : fileSha256_) {
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0f]);
    }
    return text;
}
