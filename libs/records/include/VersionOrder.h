#pragma once

#include "String.h"

// Which of two version texts is the later one, for the freshness of a
// package. Texts of digits and dots (at most four numbers, none of them
// empty) compare number by number, a missing one counting as 0, so that
// "2.10" follows "2.9" and "1.0" equals "1.0.0.0". Any other text cannot be
// ordered: only an equal text counts as not newer.
class VersionOrder {
public:
    static bool isNewer(const String& offered, const String& installed);
};
