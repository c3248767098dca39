#include "VersionOrder.h"

#include <array>
#include <optional>
#include <string_view>

namespace {

constexpr size_t kNumbers = 4;
using Numbers = std::array<std::string_view, kNumbers>;

bool isDigits(std::string_view text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string_view::npos;
}

// The numbers of a text of digits and dots without their leading zeros
// (any length: they are compared as digit strings, so none overflows);
// none for any other text.
std::optional<Numbers> numbersOf(std::string_view text) {
    Numbers numbers{};
    for (size_t i = 0;; ++i) {
        size_t dot = text.find('.');
        std::string_view part = text.substr(0, dot);
        if (i == kNumbers || !isDigits(part)) {
            return std::nullopt;
        }
        size_t first = part.find_first_not_of('0');
        numbers[i] = first == std::string_view::npos ? std::string_view() : part.substr(first);
        if (dot == std::string_view::npos) {
            return numbers;
        }
        text.remove_prefix(dot + 1);
    }
}

// Below, equal to or above 0 as a is below, equal to or above b.
int compare(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return a.size() < b.size() ? -1 : 1;
    }
    return a.compare(b);
}

}  // namespace

bool VersionOrder::isNewer(const String& offered, const String& installed) {
    std::optional<Numbers> newer = numbersOf(offered.view());
    std::optional<Numbers> older = numbersOf(installed.view());
    if (!newer || !older) {
        return offered != installed;
    }
    for (size_t i = 0; i < kNumbers; ++i) {
        int order = compare((*newer)[i], (*older)[i]);
        if (order != 0) {
            return order > 0;
        }
    }
    return false;
}
