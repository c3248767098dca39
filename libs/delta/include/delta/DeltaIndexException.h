#pragma once

#include "Exception.h"

// A block index that cannot be used; the message says why ("bad magic",
// "truncated", ...).
class DeltaIndexException : public Exception {
public:
    using Exception::Exception;
};
