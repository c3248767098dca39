#pragma once

#include "String.h"

// One line to the platform system log, at priority info with facility
// syslog. The line is always passed as text, never as a format. Bytes below
// 0x20 and 0x7f are written as \xHH, in the log and on standard error
// alike: text a server sent can neither forge lines nor drive a terminal.
class SystemLog {
public:
    static void setIdentity(const String& identity);
    // Also copy every line to standard error (for a person at a terminal).
    static void setEcho(bool echo);
    static void write(const String& line);
    // write, and the line on standard error also without the echo (once
    // with it): for what a person must see.
    static void writeAndShow(const String& line);

    // The text with bytes below 0x20 and 0x7f as \xHH (lower-case hex).
    static String escape(const String& text);
    // A body for a log line: its first 4 KiB, then " ... (N bytes)" with
    // the whole length when it was longer.
    static String bodyExcerpt(const String& body);
};
