#pragma once

#include "Exception.h"

// A TLS failure: set-up, handshake, peer checks, or a TLS read or write.
class SSLException : public IOException {
public:
    using IOException::IOException;
};
