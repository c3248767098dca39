#include "String.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <ostream>

#include "Vector.h"

namespace {
constexpr const char kSource[] = "String";

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}
char upper(char c) {
    return static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

template <class... Args>
std::string format(const char* fmt, Args... args) {
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, fmt, args...);
    return std::string(buffer, n > 0 ? static_cast<size_t>(n) : 0);
}
}  // namespace

String::String(const char* text) : text_(text ? text : "") {}

String::String(const char* bytes, int length) {
    assign(bytes, length);
}

void String::assign(const char* bytes, int length) {
    if (bytes == nullptr || length <= 0) {
        text_.clear();
        return;
    }
    text_.assign(bytes, static_cast<size_t>(length));
}

void String::checkIndex(int index, int limit) const {
    if (index < 0 || index >= limit) {
        throw ArrayIndexException(kSource, __LINE__);
    }
}

char String::charAt(int index) const {
    checkIndex(index, length());
    return text_[static_cast<size_t>(index)];
}

void String::setCharAt(int index, char c) {
    checkIndex(index, length());
    text_[static_cast<size_t>(index)] = c;
}

void String::getChars(char* buffer, int size) const {
    if (buffer == nullptr) {
        throw NullPointerException(kSource, __LINE__);
    }
    if (size <= 0) {
        return;
    }
    size_t n = std::min(text_.size(), static_cast<size_t>(size) - 1);
    std::memcpy(buffer, text_.data(), n);
    buffer[n] = '\0';
}

String& String::append(const String& other) {
    text_ += other.text_;
    return *this;
}

String& String::append(const char* text) {
    if (text) {
        text_ += text;
    }
    return *this;
}

String& String::append(const char* bytes, int length) {
    if (bytes && length > 0) {
        text_.append(bytes, static_cast<size_t>(length));
    }
    return *this;
}

String& String::append(char c) {
    text_ += c;
    return *this;
}

String& String::append(int number) {
    text_ += format("%d", number);
    return *this;
}

String& String::append(long number) {
    text_ += format("%ld", number);
    return *this;
}

String& String::append(long long number) {
    text_ += format("%lld", number);
    return *this;
}

String& String::append(double number) {
    text_ += format("%g", number);
    return *this;
}

String& String::append(bool flag) {
    text_ += flag ? "true" : "false";
    return *this;
}

bool String::equalsIgnoreCase(std::string_view other) const {
    return text_.size() == other.size() &&
           std::equal(text_.begin(), text_.end(), other.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

bool String::startsWith(std::string_view prefix) const {
    return view().starts_with(prefix);
}

bool String::endsWith(std::string_view suffix) const {
    return view().ends_with(suffix);
}

int String::indexOf(char c, int from) const {
    if (from < 0) {
        from = 0;
    }
    size_t at = text_.find(c, static_cast<size_t>(from));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int String::indexOf(std::string_view text, int from) const {
    if (from < 0) {
        from = 0;
    }
    size_t at = text_.find(text, static_cast<size_t>(from));
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int String::lastIndexOf(char c) const {
    size_t at = text_.rfind(c);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

int String::lastIndexOf(std::string_view text) const {
    size_t at = text_.rfind(text);
    return at == std::string::npos ? -1 : static_cast<int>(at);
}

String String::substring(int begin) const {
    return substring(begin, length());
}

String String::substring(int begin, int end) const {
    if (begin < 0 || end > length() || begin > end) {
        throw ArrayIndexException(kSource, __LINE__);
    }
    return String(text_.substr(static_cast<size_t>(begin), static_cast<size_t>(end - begin)));
}

String String::toLowerCase() const {
    std::string out = text_;
    std::transform(out.begin(), out.end(), out.begin(), lower);
    return String(std::move(out));
}

String String::toUpperCase() const {
    std::string out = text_;
    std::transform(out.begin(), out.end(), out.begin(), upper);
    return String(std::move(out));
}

String String::trim() const {
    constexpr const char* kBlanks = " \t\r\n";
    size_t first = text_.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return String();
    }
    size_t last = text_.find_last_not_of(kBlanks);
    return String(text_.substr(first, last - first + 1));
}

void String::split(const char* delimiters, Vector<String>& out) const {
    out.removeAll();
    std::string_view set = delimiters ? delimiters : "";
    size_t pos = 0;
    while (pos < text_.size()) {
        size_t start = text_.find_first_not_of(set, pos);
        if (start == std::string::npos) {
            break;
        }
        size_t end = text_.find_first_of(set, start);
        if (end == std::string::npos) {
            end = text_.size();
        }
        out.add(String(text_.substr(start, end - start)));
        pos = end;
    }
}

String operator+(const String& a, const String& b) {
    return String(a.str() + b.str());
}
String operator+(const String& a, const char* b) {
    return String(a).append(b);
}
String operator+(const char* a, const String& b) {
    return String(a).append(b);
}
String operator+(const String& a, char b) {
    return String(a).append(b);
}

std::ostream& operator<<(std::ostream& out, const String& text) {
    return out << text.str();
}
