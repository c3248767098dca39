#include "net/ContentRange.h"

#include <charconv>
#include <limits>
#include <string_view>

namespace {
constexpr std::string_view kUnit = "bytes ";

// Plain decimal digits only: from_chars alone would take a minus sign.
std::optional<int64_t> number(std::string_view digits) {
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    int64_t value = 0;
    auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<int64_t> totalOf(std::string_view text) {
    return text == "*" ? std::optional<int64_t>(-1) : number(text);
}

bool fits(const ContentRange& range) {
    // last - first + 1 must not pass the int64 maximum.
    return range.first <= range.last &&
           range.last - range.first < std::numeric_limits<int64_t>::max() &&
           (range.total < 0 || range.last < range.total);
}
}  // namespace

std::optional<ContentRange> ContentRange::parse(const String& value) {
    String trimmed = value.trim();
    std::string_view text = trimmed.view();
    if (text.size() < kUnit.size() ||
        !String(text.substr(0, kUnit.size())).equalsIgnoreCase(kUnit)) {
        return std::nullopt;
    }
    text.remove_prefix(kUnit.size());
    size_t dash = text.find('-');
    size_t slash = text.find('/');
    if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) {
        return std::nullopt;
    }
    auto first = number(text.substr(0, dash));
    auto last = number(text.substr(dash + 1, slash - dash - 1));
    auto total = totalOf(text.substr(slash + 1));
    if (!first || !last || !total) {
        return std::nullopt;
    }
    ContentRange range{*first, *last, *total};
    return fits(range) ? std::optional<ContentRange>(range) : std::nullopt;
}
