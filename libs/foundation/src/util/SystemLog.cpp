#include "SystemLog.h"

#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <system_error>

namespace {
constexpr int kBodyExcerptBytes = 4096;

// openlog keeps the pointer it is given: the identity must outlive it.
String& identity() {
    static String text;
    return text;
}
bool echo = false;
std::optional<LogFormat> chosenFormat;

bool isControl(unsigned char c) {
    return c < 0x20 || c == 0x7f;
}

// A line that merely ends like a line keeps no escaped line end.
String withoutLineEnd(const String& line) {
    if (line.endsWith("\r\n")) {
        return line.substring(0, line.length() - 2);
    }
    return line.endsWith("\n") ? line.substring(0, line.length() - 1) : line;
}

// Our own copy rather than LOG_PERROR: with the default empty identity that
// option prefixes every line with ": ".
void echoToStandardError(const String& escapedLine, LogPriority priority) {
    String text =
        SystemLog::format() == LogFormat::kJournal ? SystemLog::journalPrefix(priority) : String();
    text.append(escapedLine).append('\n');
    ssize_t ignored = ::write(STDERR_FILENO, text.data(), static_cast<size_t>(text.length()));
    (void)ignored;
}

int syslogPriority(LogPriority priority) {
    switch (priority) {
        case LogPriority::kError:
            return LOG_ERR;
        case LogPriority::kWarning:
            return LOG_WARNING;
        case LogPriority::kInfo:
            break;
    }
    return LOG_INFO;
}

// A whole decimal number, nothing before or after it.
bool parseDecimal(std::string_view text, unsigned long long& out) {
    const char* end = text.data() + text.size();
    auto [last, error] = std::from_chars(text.data(), end, out);
    return !text.empty() && error == std::errc() && last == end;
}
}  // namespace

void SystemLog::setIdentity(const String& text) {
    identity() = text;
}

void SystemLog::setEcho(bool on) {
    echo = on;
}

void SystemLog::setFormat(LogFormat format) {
    chosenFormat = format;
}

LogFormat SystemLog::format() {
    if (!chosenFormat) {
        chosenFormat = isJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO)
                           ? LogFormat::kJournal
                           : LogFormat::kPlain;
    }
    return *chosenFormat;
}

bool SystemLog::isJournalStream(const char* journalStream, int fd) {
    if (journalStream == nullptr) {
        return false;
    }
    std::string_view text(journalStream);
    size_t colon = text.find(':');
    unsigned long long device = 0;
    unsigned long long inode = 0;
    struct stat status = {};
    return colon != std::string_view::npos && parseDecimal(text.substr(0, colon), device) &&
           parseDecimal(text.substr(colon + 1), inode) && ::fstat(fd, &status) == 0 &&
           status.st_dev == device && status.st_ino == inode;
}

String SystemLog::journalPrefix(LogPriority priority) {
    String prefix("<");
    return prefix.append(syslogPriority(priority)).append('>');
}

String SystemLog::escape(const String& text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.str().size());
    for (char c : text.view()) {
        auto byte = static_cast<unsigned char>(c);
        if (!isControl(byte)) {
            out += c;
            continue;
        }
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 0x0f];
    }
    return String(std::move(out));
}

String SystemLog::bodyExcerpt(const String& body) {
    if (body.length() <= kBodyExcerptBytes) {
        return body;
    }
    String text = body.substring(0, kBodyExcerptBytes);
    return text.append(" ... (").append(body.length()).append(" bytes)");
}

void SystemLog::write(const String& line, LogPriority priority) {
    String escaped = escape(withoutLineEnd(line));
    openlog(identity().c_str(), LOG_NOWAIT, LOG_SYSLOG);
    syslog(syslogPriority(priority), "%s", escaped.c_str());
    closelog();
    if (echo) {
        echoToStandardError(escaped, priority);
    }
}

void SystemLog::writeAndShow(const String& line, LogPriority priority) {
    write(line, priority);
    if (!echo) {
        show(line, priority);
    }
}

void SystemLog::show(const String& line, LogPriority priority) {
    echoToStandardError(escape(withoutLineEnd(line)), priority);
}
