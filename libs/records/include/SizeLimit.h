#pragma once

#include <cstdint>

#include "Vector.h"

// When an interrupted download is kept for resumption: not for the listed
// products, nor for packages smaller than minSize bytes.
struct SizeLimit {
    int32_t minSize = 0;
    Vector<long> ids = Vector<long>(0, 20);
};
