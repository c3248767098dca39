#pragma once

#include <cstdint>
#include <optional>

#include "String.h"

// The value of a Content-Range header of a 206 part: "bytes FIRST-LAST/TOTAL"
// or "bytes FIRST-LAST/*".
struct ContentRange {
    int64_t first = 0;
    int64_t last = 0;    // inclusive
    int64_t total = -1;  // -1: "*"

    int64_t length() const { return last - first + 1; }

    // None for anything else: other units, "bytes */TOTAL" (a 416's), last <
    // first, last >= total, a length beyond int64, signs, spaces inside
    // numbers, numbers that overflow int64, trailing text. The unit is
    // compared ignoring case; whitespace may surround the value only.
    static std::optional<ContentRange> parse(const String& value);
};
