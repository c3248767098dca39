#pragma once

#include "String.h"

// How a TLS client checks the server's certificate: against the system's
// trust store (the default), against a configured CA file or hashed
// directory alone, not at all, or never (a configuration that cannot be
// honoured fails every connection with its reason).
struct TlsVerification {
    enum class Mode { kSystem, kLocation, kOff, kRefused };

    Mode mode = Mode::kSystem;
    String location;  // kLocation: the file or directory; kRefused: the reason

    static TlsVerification system() { return {}; }
    static TlsVerification at(const String& path) { return {Mode::kLocation, path}; }
    static TlsVerification off() { return {Mode::kOff, String()}; }
    static TlsVerification refused(const String& reason) { return {Mode::kRefused, reason}; }

    bool isOn() const { return mode != Mode::kOff; }
};
