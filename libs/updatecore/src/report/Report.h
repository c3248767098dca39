#pragma once

#include "String.h"
#include "SystemLog.h"

// How the steps of the core report: lines to the system log, and the error
// names a caller of LmUpdate reads on standard output.
//
// Priorities: an error is a failure (an EC_ name, a step that cannot be
// done, something refused); a warning is what a person should know while
// the run goes on (retries, skips, a weaker setting); the rest is info.

// One line to the system log.
inline void log(const String& line, LogPriority priority = LogPriority::kInfo) {
    SystemLog::write(line, priority);
}

inline void logError(const String& line) {
    log(line, LogPriority::kError);
}

inline void logWarning(const String& line) {
    log(line, LogPriority::kWarning);
}

// Logs name as an error and writes it to standard output as a line.
void reportError(const String& name);
// The run report's result: the error name written last (empty: none yet).
const String& lastReportedError();
void rememberReportedError(const String& name);

// Logs line and shows it on standard error, also without --verbose: for
// what a person must see (warnings, a path the run refuses).
inline void warn(const String& line, LogPriority priority = LogPriority::kWarning) {
    SystemLog::writeAndShow(line, priority);
}

// warn for a failure: the run refuses something and stops.
inline void showError(const String& line) {
    warn(line, LogPriority::kError);
}

// Shows that the run refuses a path another user could change; problem is
// "PATH: REASON". Returns the line shown.
inline String showUnsafePath(const String& problem) {
    String line = "LmUpdate: unsafe path: " + problem;
    showError(line);
    return line;
}
