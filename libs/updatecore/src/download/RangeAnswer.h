#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "String.h"
#include "io/InputStream.h"
#include "net/ContentRange.h"

class ByteRangesReader;
class HttpResponse;

// The body of a 206 answer to a request for several ranges, read as the
// file's bytes at given offsets: one range (its Content-Range) or several
// (multipart/byteranges), in the order the server sent them. A server may
// send a part that holds more than one asked range, never one that splits
// a range.
class RangeAnswer : public InputStream {
public:
    // Raises RangeAnswerException when the answer is neither form.
    explicit RangeAnswer(HttpResponse& response);
    ~RangeAnswer() override;

    // Moves to offset, in the part that must hold length bytes from there;
    // raises RangeAnswerException when the parts do not hold them in order.
    void seek(int64_t offset, int64_t length);

    using InputStream::read;
    // The current part's bytes from the offset reached.
    int read(char* buffer, int length) override;

private:
    bool nextPart();
    void skipTo(int64_t offset);

    InputStream& body_;
    std::unique_ptr<ByteRangesReader> parts_;  // null: one range
    std::optional<ContentRange> part_;
    int64_t at_ = 0;  // file offset of the next byte of the part
};
