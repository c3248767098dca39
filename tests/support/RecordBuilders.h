#pragma once

#include <cstdint>

#include "LmProduct.h"

// What an inventory product needs beyond its id, name and version text.
struct ProductFields {
    const char* installPath = "/opt";
    const char* versionStatus = "";
    const char* versionDesc = "";
    const char* desc = "";
    const char* serialNo = "";
    const char* parent = "";
};

// An inventory product record as the tests need it.
LmProduct productRecord(int32_t id, const char* name, const char* version,
                        const ProductFields& fields = {});
