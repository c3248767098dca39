#include "net/HttpResponse.h"

#include <climits>
#include <cstdint>
#include <vector>

#include "net/ClientSocket.h"

namespace {
// A head cannot go on for ever: bounds on blank lines before the status
// line and on header lines, so a broken server cannot make us loop or grow.
constexpr int kMaxBlankLines = 256;
constexpr int kMaxHeaderLines = 256;

bool isMadeOf(const String& text, const char* allowedExtra) {
    if (text.isEmpty()) {
        return false;
    }
    for (char c : text.view()) {
        bool digit = c >= '0' && c <= '9';
        if (!digit && (allowedExtra == nullptr ||
                       std::string_view(allowedExtra).find(c) == std::string_view::npos)) {
            return false;
        }
    }
    return true;
}

bool toStatus(const String& digits, int& status) {
    int64_t value = 0;  // wider than int on every target, so the check below can fail
    for (char c : digits.view()) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX) {
            return false;
        }
    }
    status = static_cast<int>(value);
    return true;
}
}  // namespace

int HttpResponse::readLine(ClientSocket& socket, char* buffer) {
    int stored = 0;
    bool cut = false;
    for (;;) {
        char byte = 0;
        int got = socket.read(&byte, 1);
        if (got == 0) {
            if (stored == 0) {
                return -1;
            }
            break;
        }
        if (got < 0) {
            return got;
        }
        if (byte == '\n') {
            break;
        }
        if (stored == kMaxLine) {
            cut = true;  // the byte is dropped, and the line with it
            break;
        }
        buffer[stored++] = byte;
    }
    // A cut line keeps its full length so that the caller sees it as too
    // long, whatever its last stored byte.
    if (!cut && stored > 0 && buffer[stored - 1] == '\r') {
        --stored;
    }
    buffer[stored] = '\0';
    return stored;
}

int HttpResponse::readFirstLine(ClientSocket& socket, char* buffer) {
    for (int blank = 0; blank <= kMaxBlankLines; ++blank) {
        int length = readLine(socket, buffer);
        if (length != 0) {
            return length;
        }
    }
    return -1;
}

bool HttpResponse::readHeaderLines(ClientSocket& socket, char* buffer) {
    for (int count = 0; count <= kMaxHeaderLines; ++count) {
        int length = readLine(socket, buffer);
        if (length >= kMaxLine) {
            return false;
        }
        if (length <= 0) {
            return true;
        }
        if (!headers_.parse(String(buffer, length))) {
            return false;
        }
    }
    return false;
}

bool HttpResponse::read(ClientSocket* socket) {
    if (socket == nullptr) {
        return false;
    }
    std::vector<char> buffer(kMaxLine + 1);
    int length = readFirstLine(*socket, buffer.data());
    if (length < 0 || length >= kMaxLine) {
        return false;
    }
    if (!parseStatusLine(String(buffer.data(), length)) ||
        !readHeaderLines(*socket, buffer.data())) {
        return false;
    }
    body_ = std::make_unique<SocketInputStream>(socket);
    return true;
}

bool HttpResponse::parseStatusLine(const String& line) {
    if (line.length() < 12 || !line.substring(0, 4).equalsIgnoreCase("HTTP")) {
        return false;
    }
    int slash = line.indexOf('/');
    int firstSpace = slash < 0 ? -1 : line.indexOf(' ', slash);
    if (firstSpace < 0) {
        return false;
    }
    int secondSpace = line.indexOf(' ', firstSpace + 1);
    if (secondSpace < 0) {
        return false;
    }
    String version = line.substring(slash + 1, firstSpace);
    String code = line.substring(firstSpace + 1, secondSpace);
    int status = 0;
    if (!isMadeOf(version, ".") || !isMadeOf(code, nullptr) || !toStatus(code, status)) {
        return false;
    }
    version_ = version;
    status_ = status;
    reason_ = line.substring(secondSpace + 1).trim();
    return true;
}

int HttpResponse::getContentLength() const {
    int length = -1;
    return headers_.getIntHeader("Content-Length", length) ? length : -1;
}

String HttpResponse::getText() const {
    String text("HTTP/");
    text.append(version_).append(' ').append(status_).append(' ').append(reason_).append("\r\n");
    return text.append(headers_.getText());
}
