#include "SystemLog.h"

#include <syslog.h>
#include <unistd.h>

namespace {
// openlog keeps the pointer it is given: the identity must outlive it.
String& identity() {
    static String text;
    return text;
}
bool echo = false;

// Our own copy rather than LOG_PERROR: with the default empty identity that
// option prefixes every line with ": ".
void echoToStandardError(const String& line) {
    String text(line);
    if (!text.endsWith("\n")) {
        text.append('\n');
    }
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), static_cast<size_t>(text.length()));
    (void)ignored;
}
}  // namespace

void SystemLog::setIdentity(const String& text) {
    identity() = text;
}

void SystemLog::setEcho(bool on) {
    echo = on;
}

void SystemLog::write(const String& line) {
    openlog(identity().c_str(), LOG_NOWAIT, LOG_SYSLOG);
    syslog(LOG_INFO, "%s", line.c_str());
    closelog();
    if (echo) {
        echoToStandardError(line);
    }
}
