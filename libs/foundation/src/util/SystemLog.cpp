#include "SystemLog.h"

#include <syslog.h>
#include <unistd.h>

namespace {
constexpr int kBodyExcerptBytes = 4096;

// openlog keeps the pointer it is given: the identity must outlive it.
String& identity() {
    static String text;
    return text;
}
bool echo = false;

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
void echoToStandardError(const String& escapedLine) {
    String text(escapedLine);
    text.append('\n');
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

void SystemLog::write(const String& line) {
    String escaped = escape(withoutLineEnd(line));
    openlog(identity().c_str(), LOG_NOWAIT, LOG_SYSLOG);
    syslog(LOG_INFO, "%s", escaped.c_str());
    closelog();
    if (echo) {
        echoToStandardError(escaped);
    }
}

void SystemLog::writeAndShow(const String& line) {
    write(line);
    if (!echo) {
        echoToStandardError(escape(withoutLineEnd(line)));
    }
}
