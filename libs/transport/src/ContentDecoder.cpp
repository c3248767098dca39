#include "net/ContentDecoder.h"

#include <zlib.h>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "net/ContentDecoder";
constexpr int kWindowBits = 15;    // the largest window; zlib reads the real one
constexpr int kGzipWrapping = 16;  // added to the window bits: gzip header
constexpr int kOutputPiece = 16384;

[[noreturn]] void corrupt(const char* what, int line) {
    throw IOException(String("EC_CONTENT_DECODING: ") + what, kSource, line);
}

// RFC 1950: compression method 8 and a header check that divides by 31.
bool isZlibHeader(unsigned char first, unsigned char second) {
    return (first & 0x0f) == 8 && (first >> 4) <= 7 && ((first << 8) | second) % 31 == 0;
}
}  // namespace

ContentDecoder::Coding ContentDecoder::codingFor(const String& contentEncoding) {
    String name = contentEncoding.trim().toLowerCase();
    if (name.isEmpty() || name == "identity") {
        return kIdentity;
    }
    if (name == "gzip" || name == "x-gzip") {
        return kGzip;
    }
    return name == "deflate" ? kDeflate : kUnknown;
}

ContentDecoder::ContentDecoder(Coding coding, long limit)
    : limit_(limit), stream_(std::make_unique<z_stream_s>()) {
    if (coding != kGzip && coding != kDeflate) {
        corrupt("not a content coding to decode", __LINE__);
    }
    if (coding == kGzip) {
        start(kWindowBits + kGzipWrapping);
    }
}

ContentDecoder::~ContentDecoder() {
    if (started_) {
        inflateEnd(stream_.get());
    }
}

void ContentDecoder::start(int windowBits) {
    if (inflateInit2(stream_.get(), windowBits) != Z_OK) {
        throw OutOfMemoryException(kSource, __LINE__);
    }
    started_ = true;
}

void ContentDecoder::feed(const char* data, int length, String& out) {
    if (length <= 0) {
        return;
    }
    if (ended_) {
        corrupt("data after the end of the coded stream", __LINE__);
    }
    if (started_) {
        inflateInto(reinterpret_cast<const unsigned char*>(data), length, out);
        return;
    }
    held_.append(data, length);
    if (held_.length() < 2) {
        return;
    }
    startDeflate();
    String pending = held_;
    held_ = String();
    inflateInto(reinterpret_cast<const unsigned char*>(pending.c_str()), pending.length(), out);
}

// The first two bytes tell a zlib-wrapped stream from a raw one.
void ContentDecoder::startDeflate() {
    bool zlib = isZlibHeader(static_cast<unsigned char>(held_.charAt(0)),
                             static_cast<unsigned char>(held_.charAt(1)));
    start(zlib ? kWindowBits : -kWindowBits);
}

void ContentDecoder::inflateInto(const unsigned char* data, int length, String& out) {
    z_stream_s& z = *stream_;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<unsigned>(length);
    char piece[kOutputPiece];
    while (!ended_ && (z.avail_in > 0 || z.avail_out == 0)) {
        z.next_out = reinterpret_cast<unsigned char*>(piece);
        z.avail_out = sizeof piece;
        int result = inflate(&z, Z_NO_FLUSH);
        if (result != Z_OK && result != Z_STREAM_END && result != Z_BUF_ERROR) {
            corrupt(z.msg != nullptr ? z.msg : "corrupt coded data", __LINE__);
        }
        append(piece, static_cast<long>(sizeof piece - z.avail_out), out);
        ended_ = result == Z_STREAM_END;
        if (result == Z_BUF_ERROR) {
            break;  // needs more input
        }
    }
    if (ended_ && z.avail_in > 0) {
        corrupt("data after the end of the coded stream", __LINE__);
    }
}

void ContentDecoder::append(const char* bytes, long count, String& out) {
    if (count > limit_ - produced_) {
        throw IOException(String("EC_BODY_TOO_LARGE: decoded body over ").append(limit_) + " bytes",
                          kSource, __LINE__);
    }
    produced_ += count;
    out.append(bytes, static_cast<int>(count));
}

void ContentDecoder::finish() {
    if (!ended_) {
        corrupt("coded stream ends early", __LINE__);
    }
}

String ContentDecoder::decode(const String& coded, Coding coding, long limit) {
    ContentDecoder decoder(coding, limit);
    String out;
    decoder.feed(coded.c_str(), coded.length(), out);
    decoder.finish();
    return out;
}
