#pragma once

#include "LmProductInfo.h"
#include "LmVersionInfo.h"

// An installed product: its description and installed version.
struct LmProduct {
    LmVersionInfo version;
    LmProductInfo info;
};
