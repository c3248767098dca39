#pragma once

#include <cstdint>
#include <exception>

#include "Exception.h"
#include "String.h"
#include "SystemLog.h"

// Small steps the update core's sources share; not meant for callers of the
// core.

// value in decimal, as "%ld" would write it.
String decimalText(int64_t value);

// Writes text as it is to standard output and flushes it, so that the
// caller reading our output sees it before any child process writes.
void writeToStandardOutput(const String& text);

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
