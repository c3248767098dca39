#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

#include "LmObject.h"

template <class T>
class Vector;

// Owned byte string. Indices are checked: a bad one raises ArrayIndexException.
// Numbers append as printf's "%d", "%ld" and "%g" would format them, flags as
// "true" / "false".
class String : public LmObject {
public:
    String() = default;
    String(const char* text);  // null gives the empty string
    String(const char* bytes, int length);
    String(std::string text) : text_(std::move(text)) {}
    String(std::string_view text) : text_(text) {}

    int length() const { return static_cast<int>(text_.size()); }
    bool isEmpty() const { return text_.empty(); }
    // Buffer size of the original growth rule: the smallest multiple of 40
    // above the length.
    int capacity() const { return (length() / 40 + 1) * 40; }
    const char* data() const { return text_.c_str(); }
    const char* c_str() const { return text_.c_str(); }
    const std::string& str() const { return text_; }
    std::string_view view() const { return text_; }
    operator std::string_view() const { return text_; }

    char charAt(int index) const;
    void setCharAt(int index, char c);
    // Copies the text with its terminating NUL into buffer (at most size
    // bytes, always terminated); a null buffer raises NullPointerException.
    void getChars(char* buffer, int size) const;

    String& append(const String& other);
    String& append(const char* text);
    String& append(const char* bytes, int length);
    String& append(char c);
    String& append(int number);
    String& append(long number);
    String& append(long long number);
    String& append(double number);
    String& append(bool flag);
    String& operator+=(const String& other) { return append(other); }
    String& operator+=(const char* text) { return append(text); }
    String& operator+=(char c) { return append(c); }

    void clear() { text_.clear(); }
    void assign(const char* bytes, int length);

    bool equals(const String& other) const { return text_ == other.text_; }
    bool equalsIgnoreCase(std::string_view other) const;
    int compareTo(const String& other) const { return text_.compare(other.text_); }
    bool startsWith(std::string_view prefix) const;
    bool endsWith(std::string_view suffix) const;

    // -1 when nothing is found.
    int indexOf(char c, int from = 0) const;
    int indexOf(std::string_view text, int from = 0) const;
    int lastIndexOf(char c) const;
    int lastIndexOf(std::string_view text) const;

    // Checked: 0 <= begin <= end <= length.
    String substring(int begin) const;
    String substring(int begin, int end) const;

    String toLowerCase() const;
    String toUpperCase() const;
    String trim() const;  // without leading and trailing blanks, tabs, CR, LF

    // Clears out, then appends each maximal run of characters that are not
    // in delimiters; empty pieces are never produced.
    void split(const char* delimiters, Vector<String>& out) const;

    String toString() const override { return *this; }

    friend bool operator==(const String& a, const String& b) { return a.text_ == b.text_; }
    friend bool operator==(const String& a, const char* b) { return a.text_ == (b ? b : ""); }
    friend auto operator<=>(const String& a, const String& b) { return a.text_ <=> b.text_; }

private:
    void checkIndex(int index, int limit) const;

    std::string text_;
};

String operator+(const String& a, const String& b);
String operator+(const String& a, const char* b);
String operator+(const char* a, const String& b);
String operator+(const String& a, char b);
std::ostream& operator<<(std::ostream& out, const String& text);

template <>
struct std::hash<String> {
    size_t operator()(const String& s) const noexcept { return std::hash<std::string>{}(s.str()); }
};
