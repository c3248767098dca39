#include "Utils.h"

#include <fcntl.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <optional>
#include <string_view>
#include <utility>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "Utils";

// Value of c as a digit of base; raises for a character that is none.
int digitValue(char c, int base) {
    if (base == 16) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            throw Exception("invalid hex number", kSource, __LINE__);
        }
        return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
    }
    bool ok = base == 8 ? (c >= '0' && c <= '7') : (c >= '0' && c <= '9');
    if (!ok) {
        throw Exception(base == 8 ? "invalid oct number" : "invalid dec number", kSource, __LINE__);
    }
    return c - '0';
}

bool isHexDigit(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

// The digits of text as parseNumber reads them, each step's value handed
// to next(value, digit), which gives the new value or nothing to give up.
template <class Next>
std::optional<uint32_t> readDigits(const char* text, int length, int base, Next next) {
    if (base != 8 && base != 10 && base != 16) {
        throw Exception("invalid number base", kSource, __LINE__);
    }
    uint32_t value = 0;
    for (int i = 0; text != nullptr && i < length; ++i) {
        char c = text[i];
        if (c == ' ' || c == '\0') {
            continue;
        }
        std::optional<uint32_t> stepped = next(value, static_cast<uint32_t>(digitValue(c, base)));
        if (!stepped) {
            return std::nullopt;
        }
        value = *stepped;
        if (i + 1 < length && !isHexDigit(text[i + 1])) {
            break;
        }
    }
    return value;
}

}  // namespace

int parseNumber(const char* text, int length, int base) {
    // Unsigned so that overflow wraps without UB.
    auto wrap = [base](uint32_t value, uint32_t digit) -> std::optional<uint32_t> {
        return value * static_cast<uint32_t>(base) + digit;
    };
    return static_cast<int>(*readDigits(text, length, base, wrap));
}

std::optional<int32_t> parseFittingNumber(const String& text) {
    auto fit = [](uint32_t value, uint32_t digit) -> std::optional<uint32_t> {
        uint64_t next = uint64_t{value} * 10 + digit;
        if (next > static_cast<uint64_t>(INT32_MAX)) {
            return std::nullopt;
        }
        return static_cast<uint32_t>(next);
    };
    std::optional<uint32_t> value = readDigits(text.data(), text.length(), 10, fit);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int32_t>(*value);
}

int parseNumber(const String& text, int base) {
    return parseNumber(text.data(), text.length(), base);
}

bool tryParseNumber(const String& text, int& out, String* failure) {
    try {
        out = parseNumber(text, 10);
        return true;
    } catch (const Exception& e) {
        if (failure != nullptr) {
            *failure = e.getMessage();
        }
        return false;
    }
}

String decimalText(int64_t value) {
    return String().append(value);
}

String replaceAll(const String& text, char from, char to) {
    std::string copy = text.str();
    std::replace(copy.begin(), copy.end(), from, to);
    return String(std::move(copy));
}

void writeToStandardOutput(const String& text) {
    std::fwrite(text.data(), 1, static_cast<size_t>(text.length()), stdout);
    std::fflush(stdout);
}

void writeLineToStandardOutput(const String& text) {
    writeToStandardOutput(text + "\n");
}

void split(const String& text, const char* delimiters, Vector<String>& out) {
    text.split(delimiters, out);
}

std::unique_ptr<char[]> getToken(const char* text, int n, const char* delimiters) {
    if (text == nullptr || n < 0) {
        return nullptr;
    }
    std::string_view rest(text);
    std::string_view delims(delimiters ? delimiters : "");
    for (int index = 0;; ++index) {
        size_t begin = rest.find_first_not_of(delims);
        if (begin == std::string_view::npos) {
            return nullptr;
        }
        rest.remove_prefix(begin);
        size_t end = std::min(rest.find_first_of(delims), rest.size());
        if (index == n) {
            auto token = std::make_unique<char[]>(end + 1);
            std::memcpy(token.get(), rest.data(), end);
            token[end] = '\0';
            return token;
        }
        rest.remove_prefix(end);
    }
}

bool containsBytes(const char* buffer, int length, const char* pattern, int patternLength) {
    if (buffer == nullptr || pattern == nullptr || length < 0 || patternLength < 0) {
        return false;
    }
    std::string_view haystack(buffer, static_cast<size_t>(length));
    return haystack.find(std::string_view(pattern, static_cast<size_t>(patternLength))) !=
           std::string_view::npos;
}

String formatString(const char* format, ...) {
    char buffer[4096];
    va_list args;
    va_start(args, format);
    int n = vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    if (n < 0) {
        return String();
    }
    return String(buffer, std::min(n, static_cast<int>(sizeof buffer) - 1));
}

bool isNumber(const char* text, const char* allowed) {
    if (text == nullptr || *text == '\0') {
        return false;
    }
    for (const char* p = text; *p; ++p) {
        bool digit = *p >= '0' && *p <= '9';
        if (!digit && (allowed == nullptr || std::strchr(allowed, *p) == nullptr)) {
            return false;
        }
    }
    return true;
}

String formatLocalTime(const char* format) {
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    char buffer[64];
    size_t n = strftime(buffer, sizeof buffer, format, &local);
    return String(buffer, static_cast<int>(n));
}

String formatUtcTime(std::time_t time, const char* format) {
    std::tm parts{};
    char buffer[64];
    if (gmtime_r(&time, &parts) == nullptr) {
        return String();
    }
    size_t n = std::strftime(buffer, sizeof buffer, format, &parts);
    return String(buffer, static_cast<int>(n));
}

String utcTimestamp(std::time_t time) {
    return formatUtcTime(time, "%Y-%m-%dT%H:%M:%SZ");
}

std::optional<std::time_t> parseUtcTimestamp(const String& text) {
    std::tm parts{};
    int consumed = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ%n", &parts.tm_year, &parts.tm_mon,
                    &parts.tm_mday, &parts.tm_hour, &parts.tm_min, &parts.tm_sec, &consumed) != 6 ||
        consumed != text.length()) {
        return std::nullopt;
    }
    parts.tm_year -= 1900;
    parts.tm_mon -= 1;
    std::time_t time = timegm(&parts);
    // timegm carries over out-of-range fields (a 13th month): such a text
    // was not written by utcTimestamp.
    if (time == -1 || utcTimestamp(time) != text) {
        return std::nullopt;
    }
    return time;
}

String currentTime() {
    return formatLocalTime("%H:%M:%S");
}

String currentDate() {
    return formatLocalTime("%Y-%m-%d");
}

const char* separator() {
    return "/";
}

const char* tempDirectory() {
    return "/tmp";
}

int createTempFile(const String& prefix, const String& directory, String& path) {
    String pattern = directory;
    if (!pattern.endsWith("/")) {
        pattern += "/";
    }
    pattern += prefix;
    pattern += "XXXXXX";
    std::string buffer = pattern.str();
    int fd = mkostemp(buffer.data(), O_CLOEXEC);
    if (fd >= 0) {
        path = String(buffer);
    }
    return fd;
}

int createTempFile(const String& prefix, String& path) {
    return createTempFile(prefix, String(tempDirectory()), path);
}
