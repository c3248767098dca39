#include "SystemLog.h"

#include <syslog.h>

namespace {
// openlog keeps the pointer it is given: the identity must outlive it.
String& identity() {
    static String text;
    return text;
}
bool echo = false;
}  // namespace

void SystemLog::setIdentity(const String& text) { identity() = text; }

void SystemLog::setEcho(bool on) { echo = on; }

void SystemLog::write(const String& line) {
    openlog(identity().c_str(), LOG_NOWAIT | (echo ? LOG_PERROR : 0), LOG_SYSLOG);
    syslog(LOG_INFO, "%s", line.c_str());
    closelog();
}
