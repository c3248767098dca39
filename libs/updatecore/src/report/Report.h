#pragma once

#include "String.h"
#include "SystemLog.h"

// How the steps of the core report: lines to the system log, and the error
// names a caller of LmUpdate reads on standard output.

// One line to the system log.
inline void log(const String& line) {
    SystemLog::write(line);
}

// Logs name and writes it to standard output as a line.
void reportError(const String& name);
// The run report's result: the error name written last (empty: none yet).
const String& lastReportedError();
void rememberReportedError(const String& name);

// Logs line and shows it on standard error, also without --verbose: for
// what a person must see (warnings, a path the run refuses).
inline void warn(const String& line) {
    SystemLog::writeAndShow(line);
}

// Warns that the run refuses a path another user could change; problem is
// "PATH: REASON". Returns the line shown.
inline String warnUnsafePath(const String& problem) {
    String line = "LmUpdate: unsafe path: " + problem;
    warn(line);
    return line;
}
