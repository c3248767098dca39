#include "session/TransportErrors.h"

#include "LmUpdateCore.h"

namespace {

struct TransportError {
    const char* prefix;
    const char* name;
    int code;
};
// Tested in this order.
constexpr TransportError kTransportErrors[] = {
    {"EC_INVALID_HOST", "EC_LMUPDATE_INVALID_HOST", ResultCode::kInvalidHost},
    {"EC_PROXY_FAILED", "EC_LMUPDATE_PROXY_FAILED", ResultCode::kProxyFailed},
    {"EC_CONNECT_REFUSED", "EC_LMUPDATE_CONNECT_REFUSED", ResultCode::kConnectRefused},
    {"EC_CONNECT_TIMEOUT", "EC_LMUPDATE_CONNECT_TIMEOUT", ResultCode::kConnectTimeout},
    {"EC_READ_FAILED", "EC_LMUPDATE_READ_FAILED", ResultCode::kReadFailed},
    {"EC_READ_TIMEOUT", "EC_LMUPDATE_READ_TIMEOUT", ResultCode::kReadTimeout},
    {"EC_WRITE_FAILED", "EC_LMUPDATE_WRITE_FAILED", ResultCode::kWriteFailed},
    {"EC_WRITE_TIMEOUT", "EC_LMUPDATE_WRITE_TIMEOUT", ResultCode::kWriteTimeout},
    {"EC_CONNECT_FAILED", "EC_LMUPDATE_CONNECT_FAILED", ResultCode::kConnectFailed},
};
// A refused connection through a proxy is the proxy's failure.
constexpr const TransportError& kProxyFailed = kTransportErrors[1];
constexpr const TransportError& kConnectRefused = kTransportErrors[2];

const TransportError* findTransportError(const String& message, const NetworkSettings& settings) {
    for (const TransportError& error : kTransportErrors) {
        if (message.startsWith(error.prefix)) {
            bool viaProxy = settings.isUsingProxy.equalsIgnoreCase("1");
            return (&error == &kConnectRefused && viaProxy) ? &kProxyFailed : &error;
        }
    }
    return nullptr;
}

}  // namespace

String TransportErrors::nameFor(const String& message, const NetworkSettings& settings) {
    const TransportError* error = findTransportError(message, settings);
    return error ? String(error->name) : String();
}

int TransportErrors::codeFor(const String& message, const NetworkSettings& settings) {
    const TransportError* error = findTransportError(message, settings);
    return error ? error->code : ResultCode::kPingFailed;
}
