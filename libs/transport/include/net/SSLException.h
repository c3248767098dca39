#pragma once

#include <utility>

#include "Exception.h"

// A TLS failure: set-up, handshake, peer checks, or a TLS read or write.
// When the server's certificate could not be verified, getVerifyReason tells
// why ("hostname mismatch", "certificate has expired", "cannot read CA PATH:
// ..."); it is empty for every other failure.
class SSLException : public IOException {
public:
    using IOException::IOException;
    SSLException(String message, String file, int line, String verifyReason)
        : IOException(std::move(message), std::move(file), line),
          verifyReason_(std::move(verifyReason)) {}

    const String& getVerifyReason() const { return verifyReason_; }

private:
    String verifyReason_;
};
