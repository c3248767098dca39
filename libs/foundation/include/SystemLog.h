#pragma once

#include "String.h"

// One line to the platform system log, at priority info with facility
// syslog. The line is always passed as text, never as a format.
class SystemLog {
public:
    static void setIdentity(const String& identity);
    // Also copy every line to standard error (for a person at a terminal).
    static void setEcho(bool echo);
    static void write(const String& line);
};
