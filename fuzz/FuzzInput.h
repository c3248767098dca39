#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "String.h"

// The fuzzer's bytes as text, and as pieces split at NUL bytes for targets
// that take several inputs (a document, then paths to look up).
inline String fuzzText(const uint8_t* data, size_t size) {
    return String(std::string(reinterpret_cast<const char*>(data), size));
}

inline std::vector<String> fuzzPieces(const uint8_t* data, size_t size) {
    std::vector<String> pieces;
    std::string_view rest(reinterpret_cast<const char*>(data), size);
    for (;;) {
        size_t nul = rest.find('\0');
        pieces.emplace_back(std::string(rest.substr(0, nul)));
        if (nul == std::string_view::npos) {
            return pieces;
        }
        rest.remove_prefix(nul + 1);
    }
}
