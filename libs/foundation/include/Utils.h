#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <optional>

#include "String.h"
#include "Vector.h"

// Reads a number in base 8, 10 or 16 from the first length bytes of text.
// Blanks and NULs are skipped; the value wraps in 32-bit signed arithmetic;
// after a digit followed by a character that is no hex digit, the value read
// so far is returned. A character that is no digit of the base raises
// Exception "invalid dec number" / "invalid hex number" / "invalid oct
// number"; another base raises "invalid number base".
int parseNumber(const char* text, int length, int base);
int parseNumber(const String& text, int base = 10);
// parseNumber of a whole decimal text without the exception: false, out
// unchanged and the exception's message in failure (when given), for a text
// parseNumber refuses.
bool tryParseNumber(const String& text, int& out, String* failure = nullptr);

// value in decimal, as "%ld" would write it.
String decimalText(int64_t value);

// text with every from replaced by to.
String replaceAll(const String& text, char from, char to);

// Writes text as it is to standard output and flushes it, so that a caller
// reading the output sees it before any child process writes.
void writeToStandardOutput(const String& text);
// The same with a line end.
void writeLineToStandardOutput(const String& text);

// Decimal text read as parseNumber reads it, for numbers from servers and
// state files that must fit: nothing when the value would pass 2^31-1,
// where parseNumber wraps. A character that is no digit raises the same.
std::optional<int32_t> parseFittingNumber(const String& text);

// Clears out, then appends each maximal run of non-delimiter characters.
void split(const String& text, const char* delimiters, Vector<String>& out);

// The token after skipping n tokens (runs of delimiters separate them), or
// null when there are not that many.
std::unique_ptr<char[]> getToken(const char* text, int n, const char* delimiters);

// True when pattern occurs in buffer.
bool containsBytes(const char* buffer, int length, const char* pattern, int patternLength);

// printf into a 4096-byte buffer; longer results are cut.
String formatString(const char* format, ...) __attribute__((format(printf, 1, 2)));

// True when text is not empty and each character is a decimal digit or one
// of allowed (which may be null).
bool isNumber(const char* text, const char* allowed = nullptr);

// The local time now in a strftime format (at most 63 bytes long).
String formatLocalTime(const char* format);
String currentTime();  // local time, "%H:%M:%S"
String currentDate();  // local date, "%Y-%m-%d"
// time in UTC in a strftime format (at most 63 bytes long; "" when longer).
String formatUtcTime(std::time_t time, const char* format);
// RFC 3339 in UTC to the second: "2026-12-09T07:00:00Z".
String utcTimestamp(std::time_t time);
// The time of a utcTimestamp text; none for any other text.
std::optional<std::time_t> parseUtcTimestamp(const String& text);

const char* separator();      // "/"
const char* tempDirectory();  // "/tmp"

// Creates a unique file directory + "/" + prefix + "XXXXXX" (no "/" doubled)
// and returns its open descriptor (close-on-exec) with its path in path, or
// -1 when it could not be created.
int createTempFile(const String& prefix, const String& directory, String& path);
int createTempFile(const String& prefix, String& path);  // in tempDirectory()
