#pragma once

#include "NetworkSettings.h"
#include "String.h"

// How a transport failure message maps to the session's error names and to
// the transport result codes, by the message's beginning.
class TransportErrors {
public:
    // The session error name ("" when none) for a failure message.
    static String nameFor(const String& message, const NetworkSettings& settings);
    // The transport result code for it, ResultCode::kPingFailed when none.
    static int codeFor(const String& message, const NetworkSettings& settings);
};
