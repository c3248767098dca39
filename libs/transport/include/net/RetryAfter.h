#pragma once

#include <cstdint>
#include <ctime>
#include <optional>

#include "String.h"

// The wait a Retry-After header asks for: delta-seconds ("120") or an
// HTTP date, as the three forms HTTP allows ("Sun, 06 Nov 1994 08:49:37
// GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994").
class RetryAfter {
public:
    // Seconds from now (a date already past: 0); none for anything else:
    // signs, fractions, trailing text, an unknown date form or zone. A number
    // too large for int64 stands as the int64 maximum, which no cap allows.
    static std::optional<int64_t> seconds(const String& value, std::time_t now);

private:
    static std::optional<std::time_t> date(const String& text);
};
