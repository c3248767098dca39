#include "Budget.h"

#include <algorithm>

#include "Utils.h"

namespace {

bool isDecimalDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

std::optional<int> parseBudget(const String& text) {
    // parseFittingNumber alone skips blanks and stops at the first letter.
    const char* begin = text.data();
    if (text.isEmpty() || !std::all_of(begin, begin + text.length(), isDecimalDigit)) {
        return std::nullopt;
    }
    std::optional<int32_t> value = parseFittingNumber(text);
    if (!value || *value < kMinBudgetMiB || *value > kMaxBudgetMiB) {
        return std::nullopt;
    }
    return *value;
}
