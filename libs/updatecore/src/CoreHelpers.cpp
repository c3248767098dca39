#include "CoreHelpers.h"

#include <cstdio>

String decimalText(int64_t value) {
    return String().append(value);
}

void writeToStandardOutput(const String& text) {
    std::fwrite(text.data(), 1, static_cast<size_t>(text.length()), stdout);
    std::fflush(stdout);
}
