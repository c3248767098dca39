#pragma once

#include <cstdint>

#include "String.h"

// Product id of the update client itself: its requests are self-updates.
inline constexpr int32_t kSelfProductId = 1000;

// Description of a product. id 1000 is the update client itself; -1 means
// no product.
class LmProductInfo {
public:
    LmProductInfo() = default;
    LmProductInfo(const LmProductInfo&) = default;
    LmProductInfo& operator=(const LmProductInfo&) = default;
    LmProductInfo(LmProductInfo&&) noexcept = default;
    LmProductInfo& operator=(LmProductInfo&&) noexcept = default;
    virtual ~LmProductInfo() = default;

    // The multi-line listing shown to users; optional fields only when set.
    virtual String toString() const;

    int32_t id = -1;
    String name;
    String installPath;
    String langCode;
    String OEM;
    String desc;
    String serialNo;
    String parent;  // ids of the parent products, comma-separated
};
