#include "MD5.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
constexpr int kFileChunk = 64 * 1024;

// Little-endian, as RFC 1321 reads and writes words.
void encodeWords(const uint32_t* words, unsigned char* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        for (int b = 0; b < 4; ++b) {
            out[4 * i + static_cast<size_t>(b)] = static_cast<unsigned char>(words[i] >> (8 * b));
        }
    }
}

uint32_t decodeWord(const unsigned char* in) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t word;
        std::memcpy(&word, in, sizeof word);
        return word;
    }
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
           static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

// The four round functions of RFC 1321, in forms whose operations on b,
// the word the previous step has only just computed, come last; the rest
// overlaps with that step. In roundG the two terms share no set bit, so their
// sum is their union and the term without b can be added early.
inline uint32_t roundF(uint32_t b, uint32_t c, uint32_t d) {
    return d ^ (b & (c ^ d));
}
inline uint32_t roundG(uint32_t b, uint32_t c, uint32_t d) {
    return (c & ~d) + (b & d);
}
inline uint32_t roundH(uint32_t b, uint32_t c, uint32_t d) {
    return b ^ (c ^ d);
}
inline uint32_t roundI(uint32_t b, uint32_t c, uint32_t d) {
    return c ^ (b | ~d);
}

// One step: a = b + ((a + f(b, c, d) + word + sine) <<< shift), with the sum
// of the values at hand formed first.
template <uint32_t (*F)(uint32_t, uint32_t, uint32_t), int kShift>
inline void step(uint32_t& a, uint32_t b, uint32_t c, uint32_t d, uint32_t word, uint32_t sine) {
    a = b + std::rotl(a + word + sine + F(b, c, d), kShift);
}

// Four consecutive steps of one round, rotating the roles of a, b, c and d;
// S1 to S4 are that round's shifts and i the first step's message words.
template <uint32_t (*F)(uint32_t, uint32_t, uint32_t), int S1, int S2, int S3, int S4>
inline void fourSteps(uint32_t& a, uint32_t& b, uint32_t& c, uint32_t& d, const uint32_t* x, int w0,
                      int w1, int w2, int w3, const uint32_t* sines) {
    step<F, S1>(a, b, c, d, x[w0], sines[0]);
    step<F, S2>(d, a, b, c, x[w1], sines[1]);
    step<F, S3>(c, d, a, b, x[w2], sines[2]);
    step<F, S4>(b, c, d, a, x[w3], sines[3]);
}

// Sine-derived constants of RFC 1321, one row of four per fourSteps call.
constexpr uint32_t kSines[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

// The 64 steps, unrolled: the compiler keeps a to d in registers and every
// shift, word index and constant is fixed at compile time.
void digestBlock(uint32_t state[4], const uint32_t x[16]) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    const uint32_t* k = kSines;
    fourSteps<roundF, 7, 12, 17, 22>(a, b, c, d, x, 0, 1, 2, 3, k + 0);
    fourSteps<roundF, 7, 12, 17, 22>(a, b, c, d, x, 4, 5, 6, 7, k + 4);
    fourSteps<roundF, 7, 12, 17, 22>(a, b, c, d, x, 8, 9, 10, 11, k + 8);
    fourSteps<roundF, 7, 12, 17, 22>(a, b, c, d, x, 12, 13, 14, 15, k + 12);
    fourSteps<roundG, 5, 9, 14, 20>(a, b, c, d, x, 1, 6, 11, 0, k + 16);
    fourSteps<roundG, 5, 9, 14, 20>(a, b, c, d, x, 5, 10, 15, 4, k + 20);
    fourSteps<roundG, 5, 9, 14, 20>(a, b, c, d, x, 9, 14, 3, 8, k + 24);
    fourSteps<roundG, 5, 9, 14, 20>(a, b, c, d, x, 13, 2, 7, 12, k + 28);
    fourSteps<roundH, 4, 11, 16, 23>(a, b, c, d, x, 5, 8, 11, 14, k + 32);
    fourSteps<roundH, 4, 11, 16, 23>(a, b, c, d, x, 1, 4, 7, 10, k + 36);
    fourSteps<roundH, 4, 11, 16, 23>(a, b, c, d, x, 13, 0, 3, 6, k + 40);
    fourSteps<roundH, 4, 11, 16, 23>(a, b, c, d, x, 9, 12, 15, 2, k + 44);
    fourSteps<roundI, 6, 10, 15, 21>(a, b, c, d, x, 0, 7, 14, 5, k + 48);
    fourSteps<roundI, 6, 10, 15, 21>(a, b, c, d, x, 12, 3, 10, 1, k + 52);
    fourSteps<roundI, 6, 10, 15, 21>(a, b, c, d, x, 8, 15, 6, 13, k + 56);
    fourSteps<roundI, 6, 10, 15, 21>(a, b, c, d, x, 4, 11, 2, 9, k + 60);
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
}  // namespace

MD5::MD5() {
    state_[0] = 0x67452301;
    state_[1] = 0xefcdab89;
    state_[2] = 0x98badcfe;
    state_[3] = 0x10325476;
    count_[0] = count_[1] = 0;
    std::memset(buffer_, 0, sizeof buffer_);
}

void MD5::transform(const unsigned char block[64]) {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = decodeWord(block + 4 * i);
    }
    digestBlock(state_, x);
}

void MD5::update(const void* bytes, size_t length) {
    const auto* in = static_cast<const unsigned char*>(bytes);
    size_t index = (count_[0] >> 3) & 0x3F;
    uint64_t bits = (static_cast<uint64_t>(count_[1]) << 32 | count_[0]) + (uint64_t{length} << 3);
    count_[0] = static_cast<uint32_t>(bits);
    count_[1] = static_cast<uint32_t>(bits >> 32);
    size_t room = 64 - index;
    size_t done = 0;
    if (length >= room) {
        std::memcpy(buffer_ + index, in, room);
        transform(buffer_);
        for (done = room; done + 64 <= length; done += 64) {
            transform(in + done);
        }
        index = 0;
    }
    if (length > done) {
        std::memcpy(buffer_ + index, in + done, length - done);
    }
}

void MD5::update(const char* text) {
    if (text != nullptr) {
        update(text, std::strlen(text));
    }
}

void MD5::final(unsigned char digest[kDigestLength]) {
    unsigned char bits[8];
    encodeWords(count_, bits, 2);
    size_t index = (count_[0] >> 3) & 0x3F;
    size_t padLength = index < 56 ? 56 - index : 120 - index;
    static const unsigned char kPadding[64] = {0x80};
    update(kPadding, padLength);
    update(bits, 8);
    encodeWords(state_, digest, 4);
    std::memset(state_, 0, sizeof state_);
    std::memset(count_, 0, sizeof count_);
    std::memset(buffer_, 0, sizeof buffer_);
}

void MD5::finalHex(String& out) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    unsigned char digest[kDigestLength];
    final(digest);
    for (unsigned char byte : digest) {
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0F];
    }
}

bool MD5::fileDigest(const String& path, String& out) {
    std::unique_ptr<FILE, FileCloser> file(std::fopen(path.c_str(), "rbe"));
    if (!file) {
        return false;
    }
    MD5 md5;
    unsigned char chunk[kFileChunk];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
        md5.update(chunk, n);
    }
    if (std::ferror(file.get())) {
        return false;
    }
    md5.finalHex(out);
    return true;
}
