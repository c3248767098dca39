#include "net/HttpResponse.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

#include "Exception.h"
#include "Utils.h"
#include "net/ClientSocket.h"
#include "net/SocketException.h"

namespace {
// A head cannot go on for ever: bounds on blank lines before the status
// line and on header lines, so a broken server cannot make us loop or grow.
constexpr int kMaxBlankLines = 256;
constexpr int kMaxHeaderLines = 256;
constexpr int kBodyPiece = 8192;
// Coded bytes may exceed what they decode to by a little (stored blocks,
// headers); beyond this they are not worth reading.
constexpr long kCodedSlack = 64 * 1024;

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

int HttpResponse::readLine(SocketReader& reader, char* buffer) {
    int stored = 0;
    bool cut = false;
    for (;;) {
        char byte = 0;
        int got = reader.read(&byte, 1);
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

int HttpResponse::readFirstLine(SocketReader& reader, char* buffer) {
    for (int blank = 0; blank <= kMaxBlankLines; ++blank) {
        int length = readLine(reader, buffer);
        if (length != 0) {
            return length;
        }
    }
    return -1;
}

bool HttpResponse::readHeaderLines(SocketReader& reader, char* buffer) {
    for (int count = 0; count <= kMaxHeaderLines; ++count) {
        int length = readLine(reader, buffer);
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
    // The head comes from the buffer the body then goes on reading: bytes
    // of the body received with the head stay there.
    auto reader = std::make_unique<SocketReader>(socket);
    std::vector<char> buffer(kMaxLine + 1);
    int length = readFirstLine(*reader, buffer.data());
    if (length < 0 || length >= kMaxLine) {
        return false;
    }
    if (!parseStatusLine(String(buffer.data(), length)) ||
        !readHeaderLines(*reader, buffer.data())) {
        return false;
    }
    body_ = std::make_unique<SocketInputStream>(std::move(reader));
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

// Only plain digits that fit in 0 to 2^31-1 are a length: a sign or a
// wrapped value would be a size the server never sent.
int HttpResponse::getContentLength() const {
    String text;
    if (!headers_.getHeader("Content-Length", text) || !isMadeOf(text, nullptr)) {
        return -1;
    }
    return parseFittingNumber(text).value_or(-1);
}

String HttpResponse::getText() const {
    String text("HTTP/");
    text.append(version_).append(' ').append(status_).append(' ').append(reason_).append("\r\n");
    return text.append(headers_.getText());
}

String HttpResponse::getContentEncoding() const {
    String value;
    return headers_.getHeader("Content-Encoding", value) ? value.trim() : String();
}

String HttpResponse::getContentType() const {
    String value;
    return headers_.getHeader("Content-Type", value) ? value.trim() : String();
}

bool HttpResponse::isContentCoded() const {
    return ContentDecoder::codingFor(getContentEncoding()) != ContentDecoder::kIdentity;
}

HttpResponse::BodyResult HttpResponse::readBody(String& body, long limit, String* reason) {
    String why;
    BodyResult result = readCodedBody(body, limit, why);
    if (reason != nullptr) {
        *reason = why;
    }
    return result;
}

// Identity bodies go through the same loop as coded ones: only the step
// that turns read bytes into body bytes differs.
HttpResponse::BodyResult HttpResponse::readCodedBody(String& body, long limit, String& reason) {
    ContentDecoder::Coding coding = ContentDecoder::codingFor(getContentEncoding());
    if (coding == ContentDecoder::kUnknown) {
        reason = "unknown content coding " + getContentEncoding();
        return kBodyUnknownCoding;
    }
    const long announced = getContentLength();
    const long rawLimit = coding == ContentDecoder::kIdentity ? limit : limit + kCodedSlack;
    if (announced > rawLimit) {
        reason = String("body of ").append(announced) + " bytes over the limit";
        return kBodyTooLarge;
    }
    std::unique_ptr<ContentDecoder> decoder;
    if (coding != ContentDecoder::kIdentity) {
        decoder = std::make_unique<ContentDecoder>(coding, limit);
    }
    char piece[kBodyPiece];
    long total = 0;
    try {
        for (;;) {
            long want = announced >= 0 ? std::min<long>(kBodyPiece, announced - total) : kBodyPiece;
            int got = want > 0 && body_ ? body_->read(piece, static_cast<int>(want)) : 0;
            if (got <= 0) {
                break;
            }
            total += got;
            if (total > rawLimit) {
                reason = String("body over ").append(limit) + " bytes";
                return kBodyTooLarge;
            }
            if (decoder) {
                decoder->feed(piece, got, body);
            } else {
                body.append(piece, got);
            }
        }
        if (announced >= 0 && total < announced) {
            reason = String("body ends after ").append(total) + " of " +
                     String().append(announced) + " bytes";
            return kBodyShort;
        }
        if (decoder) {
            decoder->finish();
        }
    } catch (const IOException& e) {
        if (dynamic_cast<const SocketException*>(&e) != nullptr) {
            throw;
        }
        reason = e.getMessage();
        return e.getMessage().startsWith("EC_BODY_TOO_LARGE") ? kBodyTooLarge : kBodyBadCoding;
    }
    return kBodyComplete;
}
