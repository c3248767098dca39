#pragma once

#include <cstddef>
#include <cstdint>

#include "String.h"

// The RFC 1321 message digest. Copying an MD5 copies its running context.
class MD5 {
public:
    static constexpr int kDigestLength = 16;

    MD5();

    void update(const void* bytes, size_t length);
    void update(const char* text);  // a NUL-terminated text
    // Pads, writes the digest and clears the whole context to zeros.
    void final(unsigned char digest[kDigestLength]);
    // final, then appends the 32 upper-case hex digits to out.
    void finalHex(String& out);

    // Appends the digest of the file at path to out as 32 upper-case hex
    // digits; false, with out untouched, when the file cannot be read.
    static bool fileDigest(const String& path, String& out);

private:
    void transform(const unsigned char block[64]);

    uint32_t state_[4];
    uint32_t count_[2];  // bit count, low word first
    unsigned char buffer_[64];
};
