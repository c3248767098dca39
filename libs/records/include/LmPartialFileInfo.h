#pragma once

#include <cstdint>

#include "String.h"

// One interrupted download that may be resumed.
struct LmPartialFileInfo {
    int32_t productID = -1;
    String url;
    String path;  // local file holding the bytes received so far
    int32_t size = -1;
    int32_t actualSize = -1;
};
