#include "net/ByteRangesReader.h"

#include <algorithm>
#include <string_view>

#include "Exception.h"
#include "net/HttpHeader.h"

namespace {
constexpr const char kSource[] = "net/ByteRangesReader";
constexpr std::string_view kSpace = " \t";

std::string_view trimmed(std::string_view text) {
    size_t begin = text.find_first_not_of(kSpace);
    if (begin == std::string_view::npos) {
        return {};
    }
    return text.substr(begin, text.find_last_not_of(kSpace) - begin + 1);
}

// Walks the "; name=value" parameters after a media type. A quoted value may
// hold ';' and backslash escapes, so the text cannot simply be split.
class ParameterScanner {
public:
    explicit ParameterScanner(std::string_view text) : rest_(text) {}

    bool atEnd() const { return trimmed(rest_).empty(); }

    // The next parameter; false when the text there is malformed.
    bool next(String& name, String& value) {
        rest_ = trimmed(rest_);
        if (rest_.empty() || rest_.front() != ';') {
            return false;
        }
        size_t equals = rest_.find('=');
        if (equals == std::string_view::npos) {
            return false;
        }
        name = String(trimmed(rest_.substr(1, equals - 1)));
        rest_ = trimmed(rest_.substr(equals + 1));
        return !name.isEmpty() && (rest_.starts_with('"') ? quoted(value) : token(value));
    }

private:
    bool token(String& value) {
        size_t end = std::min(rest_.find(';'), rest_.size());
        value = String(trimmed(rest_.substr(0, end)));
        rest_.remove_prefix(end);
        return !value.isEmpty();
    }

    bool quoted(String& value) {
        value.clear();
        for (size_t i = 1; i < rest_.size(); ++i) {
            if (rest_[i] == '"') {
                rest_.remove_prefix(i + 1);
                return true;
            }
            if (rest_[i] == '\\' && ++i == rest_.size()) {
                break;
            }
            value.append(rest_[i]);
        }
        return false;  // no closing quote
    }

    std::string_view rest_;
};
}  // namespace

std::optional<String> ByteRangesReader::boundaryOf(const String& contentType) {
    std::string_view text = contentType.view();
    size_t semicolon = std::min(text.find(';'), text.size());
    if (!String(trimmed(text.substr(0, semicolon))).equalsIgnoreCase("multipart/byteranges")) {
        return std::nullopt;
    }
    ParameterScanner parameters(text.substr(semicolon));
    std::optional<String> boundary;
    String name;
    String value;
    while (!parameters.atEnd()) {
        if (!parameters.next(name, value) ||
            (name.equalsIgnoreCase("boundary") && boundary.has_value())) {
            return std::nullopt;
        }
        if (name.equalsIgnoreCase("boundary")) {
            boundary = value;
        }
    }
    if (!boundary || boundary->isEmpty() || boundary->length() > kMaxBoundary) {
        return std::nullopt;
    }
    return boundary;
}

ByteRangesReader::ByteRangesReader(InputStream& body, const String& boundary)
    : body_(body), delimiter_("--" + boundary) {}

void ByteRangesReader::fail(const String& why, int line) {
    throw RangeAnswerException("broken multipart body: " + why, kSource, line);
}

void ByteRangesReader::cut(const String& why, int line) {
    throw IOException("multipart body cut: " + why, kSource, line);
}

char ByteRangesReader::nextByte() {
    int byte = body_.read();
    if (byte < 0) {
        cut("the body ends early", __LINE__);
    }
    return static_cast<char>(byte);
}

std::optional<ContentRange> ByteRangesReader::nextPart() {
    if (!started_) {
        started_ = true;
        skipPreamble();
    } else if (!finished_) {
        skipRestOfPart();
        expectDelimiterAfterBody();
    }
    if (finished_) {
        return std::nullopt;
    }
    ContentRange range = readPartHeaders();
    remaining_ = range.length();
    return range;
}

int ByteRangesReader::read(char* buffer, int n) {
    if (n <= 0 || remaining_ == 0) {
        return 0;
    }
    int got = body_.read(buffer, static_cast<int>(std::min<int64_t>(n, remaining_)));
    if (got <= 0) {
        cut(String("the body ends ").append(static_cast<long long>(remaining_)) +
                " bytes before the end of a part",
            __LINE__);
    }
    remaining_ -= got;
    return got;
}

// The first delimiter starts a line: at the very start of the body or after
// a line end of the preamble.
void ByteRangesReader::skipPreamble() {
    int matched = 0;  // delimiter bytes matched on this line; -1: not at its start
    for (int budget = kMaxPreamble + delimiter_.length(); matched < delimiter_.length(); --budget) {
        if (budget == 0) {
            fail("no delimiter in the first 8 KiB", __LINE__);
        }
        char byte = nextByte();
        if (matched >= 0 && byte == delimiter_.charAt(matched)) {
            ++matched;
        } else {
            matched = byte == '\n' ? 0 : -1;
        }
    }
    finishDelimiter();
}

void ByteRangesReader::skipRestOfPart() {
    char scratch[4096];
    while (read(scratch, sizeof scratch) > 0) {
    }
}

// CRLF (or a bare LF) and "--" + boundary right after the part's last byte.
void ByteRangesReader::expectDelimiterAfterBody() {
    char byte = nextByte();
    if (byte == '\r') {
        byte = nextByte();
    }
    bool found = byte == '\n';
    for (int i = 0; found && i < delimiter_.length(); ++i) {
        found = nextByte() == delimiter_.charAt(i);
    }
    if (!found) {
        fail("no delimiter after a part", __LINE__);
    }
    finishDelimiter();
}

// After "--" + boundary: "--" closes the body (the epilogue is left unread),
// a line end starts the next part.
void ByteRangesReader::finishDelimiter() {
    char byte = nextByte();
    if (byte == '-') {
        finished_ = nextByte() == '-';
    } else if (byte == '\r') {
        byte = nextByte();
    }
    if (!finished_ && byte != '\n') {
        fail("garbage after a delimiter", __LINE__);
    }
}

// One line without its LF and a final CR; every byte counts against budget.
String ByteRangesReader::readHeaderLine(int& budget) {
    String line;
    for (char byte = 0; byte != '\n';) {
        if (budget-- == 0) {
            fail("part headers over 8 KiB", __LINE__);
        }
        byte = nextByte();
        line.append(byte);
    }
    int end = line.length() - 1;
    return line.substring(0, end > 0 && line.charAt(end - 1) == '\r' ? end - 1 : end);
}

ContentRange ByteRangesReader::readPartHeaders() {
    HttpHeader headers;
    int budget = kMaxPartHeaders;
    for (String line = readHeaderLine(budget); !line.isEmpty(); line = readHeaderLine(budget)) {
        if (!headers.parse(line)) {
            fail("malformed part header", __LINE__);
        }
    }
    String value;
    if (!headers.getHeader("Content-Range", value)) {
        fail("a part without Content-Range", __LINE__);
    }
    std::optional<ContentRange> range = ContentRange::parse(value);
    if (!range) {
        fail("malformed Content-Range \"" + value + "\"", __LINE__);
    }
    return *range;
}
