#pragma once

#include <cstdint>
#include <optional>

#include "String.h"
#include "io/InputStream.h"
#include "net/ContentRange.h"
#include "net/RangeAnswerException.h"

// Reads a multipart/byteranges body part by part from a stream, never past a
// part's announced length and never buffering more than a bounded head (part
// headers at most 8 KiB each). It reads the stream byte by byte outside part
// bodies and asks for no byte it does not need, so a server that keeps the
// connection open after the closing delimiter cannot make it wait.
// After a RangeAnswerException the reader is of no further use.
class ByteRangesReader {
public:
    static constexpr int kMaxBoundary = 70;
    static constexpr int kMaxPreamble = 8192;
    static constexpr int kMaxPartHeaders = 8192;

    // The boundary of a Content-Type "multipart/byteranges; boundary=..."
    // (quoted or not; type and parameter names ignore case); none when the
    // type is another, the parameters are malformed, or the boundary is
    // missing, given twice, empty or longer than kMaxBoundary.
    static std::optional<String> boundaryOf(const String& contentType);

    ByteRangesReader(InputStream& body, const String& boundary);
    ByteRangesReader(const ByteRangesReader&) = delete;
    ByteRangesReader& operator=(const ByteRangesReader&) = delete;

    // Moves to the next part (skipping what is left of the current one's
    // body) and returns its range; none after the closing delimiter. Raises
    // RangeAnswerException("broken multipart body: <why>") when a
    // delimiter is not where it must be, a part has no or a malformed
    // Content-Range, or the preamble or a part's headers are too long.
    std::optional<ContentRange> nextPart();
    // Up to n bytes of the current part's body; 0 at its end. Raises
    // IOException("multipart body cut: ...") when the stream ends inside
    // the part, as nextPart() does when it ends before the closing
    // delimiter.
    int read(char* buffer, int n);

private:
    // A body that breaks the form: asking again would bring the same.
    [[noreturn]] static void fail(const String& why, int line);
    // A body the connection ended early: what was read stands.
    [[noreturn]] static void cut(const String& why, int line);
    char nextByte();
    void skipPreamble();
    void skipRestOfPart();
    void expectDelimiterAfterBody();
    void finishDelimiter();
    String readHeaderLine(int& budget);
    ContentRange readPartHeaders();

    InputStream& body_;
    String delimiter_;  // "--" + boundary
    bool started_ = false;
    bool finished_ = false;
    int64_t remaining_ = 0;  // of the current part's body
};
