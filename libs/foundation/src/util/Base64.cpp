#include "Base64.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string>

namespace {
constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int alphabetIndex(char c) {
    const char* found = c == '\0' ? nullptr : std::strchr(kAlphabet, c);
    return found ? static_cast<int>(found - kAlphabet) : -1;
}

// Writes the four characters of one group of up to three real bytes.
char* encodeGroup(const unsigned char* in, int real, char* out) {
    unsigned value = static_cast<unsigned>(in[0]) << 16;
    value |= real > 1 ? static_cast<unsigned>(in[1]) << 8 : 0;
    value |= real > 2 ? static_cast<unsigned>(in[2]) : 0;
    for (int i = 0; i < 4; ++i) {
        out[i] = i <= real ? kAlphabet[(value >> (18 - 6 * i)) & 0x3F] : '=';
    }
    return out + 4;
}

// The 24-bit value of one group of four characters: "=" counts as 0, other
// characters outside the alphabet are skipped.
unsigned decodeGroup(const char* group) {
    unsigned value = 0;
    for (int i = 0; i < 4; ++i) {
        int index = alphabetIndex(group[i]);
        if (index >= 0) {
            value = (value << 6) | static_cast<unsigned>(index);
        } else if (group[i] == '=') {
            value <<= 6;
        }
    }
    return value;
}
}  // namespace

int Base64::encode(const char* bytes, int length, std::unique_ptr<char[]>& out) {
    if (length < 0 || (bytes == nullptr && length > 0)) {
        return -1;
    }
    out.reset(new (std::nothrow) char[static_cast<size_t>(length) / 3 * 4 + 5]);
    if (!out) {
        return -1;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(bytes);
    char* end = out.get();
    for (int i = 0; i < length; i += 3) {
        end = encodeGroup(in + i, std::min(3, length - i), end);
    }
    *end = '\0';
    return static_cast<int>(end - out.get());
}

String Base64::encode(const String& bytes) {
    std::unique_ptr<char[]> out;
    int n = encode(bytes.data(), bytes.length(), out);
    return n > 0 ? String(out.get(), n) : String();
}

String Base64::decode(const String& text) {
    const std::string& s = text.str();
    size_t n = s.find('=');
    n = n == std::string::npos ? s.size() : n;
    size_t p = 0;
    while (n + p < s.size() && s[n + p] == '=') {
        ++p;
    }
    size_t groups = (n + p) / 4;
    long outputLength = static_cast<long>(groups * 3) - static_cast<long>(p);
    if (groups == 0 || outputLength <= 0) {
        return String();
    }
    std::string bytes;
    for (size_t g = 0; g < groups; ++g) {
        unsigned value = decodeGroup(s.data() + 4 * g);
        bytes += static_cast<char>(value >> 16);
        bytes += static_cast<char>(value >> 8);
        bytes += static_cast<char>(value);
    }
    bytes.resize(static_cast<size_t>(outputLength));
    return String(bytes.c_str());
}
