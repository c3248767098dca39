#pragma once

#include <memory>

#include "String.h"

// The RFC 4648 codec with "=" padding and no line breaks.
class Base64 {
public:
    // Encodes length bytes (0: none, whatever bytes points at) into a
    // new NUL-terminated text; the output length, or -1 when the buffer
    // cannot be allocated.
    static int encode(const char* bytes, int length, std::unique_ptr<char[]>& out);
    // Empty when there is nothing to encode.
    static String encode(const String& bytes);
    // Text up to the first zero byte of the decoded bytes; malformed input
    // gives a short or empty result.
    static String decode(const String& text);
};
