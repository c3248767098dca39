#pragma once

#include <exception>

#include "Exception.h"
#include "SystemLog.h"

// Runs an entry operation's steps; a failure raised inside them is logged
// after logPrefix and gives `failure` instead of leaving the core.
template <class Steps>
int guarded(int failure, const char* logPrefix, Steps steps) {
    try {
        return steps();
    } catch (const Exception& e) {
        SystemLog::write(logPrefix + e.getMessage(), LogPriority::kError);
    } catch (const std::exception& e) {
        SystemLog::write(String(logPrefix) + e.what(), LogPriority::kError);
    }
    return failure;
}
