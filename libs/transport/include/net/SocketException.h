#pragma once

#include "Exception.h"

// A socket failure. Transport messages begin with an error-code word and a
// colon ("EC_CONNECT_TIMEOUT: connecting timeout") that callers map.
class SocketException : public IOException {
public:
    using IOException::IOException;
};
