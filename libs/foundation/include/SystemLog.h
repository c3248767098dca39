#pragma once

#include "String.h"

// How much a line matters: an error is a failure of what was asked, a
// warning something a person should know while the run goes on.
enum class LogPriority { kError, kWarning, kInfo };

// How lines on standard error look: as they always did, or each with the
// "<N>" priority prefix the journal reads from a service's output.
enum class LogFormat { kPlain, kJournal };

// One line to the platform system log, at the given priority (info unless
// said otherwise) with facility syslog. The line is always passed as text,
// never as a format. Bytes below 0x20 and 0x7f are written as \xHH, in the
// log and on standard error alike: text a server sent can neither forge
// lines nor drive a terminal.
class SystemLog {
public:
    static void setIdentity(const String& identity);
    // Also copy every line to standard error (for a person at a terminal).
    static void setEcho(bool echo);
    static void write(const String& line, LogPriority priority = LogPriority::kInfo);
    // write, and the line on standard error also without the echo (once
    // with it): for what a person must see.
    static void writeAndShow(const String& line, LogPriority priority = LogPriority::kInfo);
    // The line on standard error only, not in the log.
    static void show(const String& line, LogPriority priority);

    // Until set, the journal format is chosen when standard error is the
    // stream the journal connected (JOURNAL_STREAM names it).
    static void setFormat(LogFormat format);
    static LogFormat format();
    // True when journalStream ("DEV:INODE", decimal) names the file open
    // on fd; false for a null, malformed or other one.
    static bool isJournalStream(const char* journalStream, int fd);
    // "<3>", "<4>" or "<6>": the syslog priority as the journal reads it.
    static String journalPrefix(LogPriority priority);

    // The text with bytes below 0x20 and 0x7f as \xHH (lower-case hex).
    static String escape(const String& text);
    // A body for a log line: its first 4 KiB, then " ... (N bytes)" with
    // the whole length when it was longer.
    static String bodyExcerpt(const String& body);
};
