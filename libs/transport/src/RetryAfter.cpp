#include "net/RetryAfter.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <limits>
#include <string_view>

namespace {

// IMF-fixdate, RFC 850 and asctime, in the order HTTP prefers them.
constexpr const char* kDateForms[] = {
    "%a, %d %b %Y %H:%M:%S GMT",
    "%A, %d-%b-%y %H:%M:%S GMT",
    "%a %b %e %H:%M:%S %Y",
};

std::optional<int64_t> delaySeconds(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error == std::errc::result_out_of_range) {
        return std::numeric_limits<int64_t>::max();
    }
    return error == std::errc() ? std::optional<int64_t>(value) : std::nullopt;
}

}  // namespace

std::optional<int64_t> RetryAfter::seconds(const String& value, std::time_t now) {
    String text = value.trim();
    if (std::optional<int64_t> delay = delaySeconds(text.view())) {
        return delay;
    }
    std::optional<std::time_t> when = date(text);
    if (!when) {
        return std::nullopt;
    }
    return std::max<int64_t>(*when - now, 0);
}

// The date in UTC; the whole text must be one of the forms.
std::optional<std::time_t> RetryAfter::date(const String& text) {
    for (const char* form : kDateForms) {
        std::tm fields{};
        const char* end = strptime(text.c_str(), form, &fields);
        if (end != nullptr && *end == '\0') {
            return timegm(&fields);
        }
    }
    return std::nullopt;
}
