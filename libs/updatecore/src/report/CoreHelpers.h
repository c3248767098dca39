#pragma once

#include <cstdint>
#include <exception>

#include "Exception.h"
#include "String.h"
#include "SystemLog.h"

// Small steps and constants the update core's sources share; not meant for
// callers of the core.

// Product id of the update client itself: its requests are self-updates.
inline constexpr int32_t kSelfProductId = 1000;
// The network settings file below the installation root.
inline constexpr char kSettingsFile[] = "conf/network.xml";
// Progress reports a transfer makes after its first one, at each further
// part of the size.
inline constexpr int32_t kProgressSteps = 20;

// One line to the system log.
inline void log(const String& line) {
    SystemLog::write(line);
}

// value in decimal, as "%ld" would write it.
String decimalText(int64_t value);

// Logs name and writes it to standard output as a line.
void reportError(const String& name);

// Runs an entry operation's steps; a failure raised inside them is logged
// after logPrefix and gives `failure` instead of leaving the core.
template <class Steps>
int guarded(int failure, const char* logPrefix, Steps steps) {
    try {
        return steps();
    } catch (const Exception& e) {
        SystemLog::write(logPrefix + e.getMessage());
    } catch (const std::exception& e) {
        SystemLog::write(String(logPrefix) + e.what());
    }
    return failure;
}
