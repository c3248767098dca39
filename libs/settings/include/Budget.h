#pragma once

#include <optional>

#include "String.h"

// The daily byte budget for metered links, in MiB per day (at most 1 TiB).
inline constexpr int kMinBudgetMiB = 1;
inline constexpr int kMaxBudgetMiB = 1048576;

// A budget as typed on the command line or stored in the settings file:
// decimal digits only (no sign, blank or trailing text), kMinBudgetMiB to
// kMaxBudgetMiB; nothing for any other text, a value that would wrap
// included.
std::optional<int> parseBudget(const String& text);
