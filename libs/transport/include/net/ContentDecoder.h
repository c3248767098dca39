#pragma once

#include <memory>

#include "String.h"

struct z_stream_s;

// Undoes an HTTP content coding: gzip, or deflate as a zlib-wrapped or as a
// raw deflate stream (servers send both under that name). Feed the coded
// bytes in pieces, then finish. Raises IOException "EC_CONTENT_DECODING:
// ..." for corrupt or truncated data and "EC_BODY_TOO_LARGE: ..." as soon as
// the decoded bytes would pass the limit.
class ContentDecoder {
public:
    enum Coding { kIdentity, kGzip, kDeflate, kUnknown };

    // The coding a Content-Encoding value names, ignoring case and blanks:
    // "" and "identity" kIdentity, "gzip" and "x-gzip" kGzip, "deflate"
    // kDeflate; anything else (a list of codings among them) kUnknown.
    static Coding codingFor(const String& contentEncoding);

    // coding is kGzip or kDeflate; limit bounds the decoded bytes.
    ContentDecoder(Coding coding, long limit);
    ~ContentDecoder();
    ContentDecoder(const ContentDecoder&) = delete;
    ContentDecoder& operator=(const ContentDecoder&) = delete;

    // Decodes the next coded bytes, appending what they give to out.
    void feed(const char* data, int length, String& out);
    // Raises when the coded stream has not ended.
    void finish();

    // The whole of a coded text at once.
    static String decode(const String& coded, Coding coding, long limit);

private:
    void start(int windowBits);
    void startDeflate();
    void inflateInto(const unsigned char* data, int length, String& out);
    void append(const char* bytes, long count, String& out);

    long limit_;
    long produced_ = 0;
    bool started_ = false;
    bool ended_ = false;
    // The first byte of a deflate stream, held until the second tells the
    // zlib wrapping from a raw stream.
    String held_;
    std::unique_ptr<z_stream_s> stream_;
};
