#pragma once

#include <memory>

#include "net/ContentDecoder.h"
#include "net/HttpHeader.h"
#include "net/SocketInputStream.h"

class ClientSocket;

// An HTTP response: status line and headers read from a socket, and a stream
// over the same socket for the body.
class HttpResponse {
public:
    // Longest line of a response head; a line this long fails the read.
    static constexpr int kMaxLine = 8192;

    HttpResponse() = default;
    HttpResponse(const HttpResponse&) = delete;
    HttpResponse& operator=(const HttpResponse&) = delete;
    virtual ~HttpResponse() = default;

    // Reads the status line and headers (not the body). False when no head
    // could be read or parsed; socket exceptions pass through.
    bool read(ClientSocket* socket);

    // "HTTP/" version SP status SP reason; nothing is stored on failure.
    bool parseStatusLine(const String& line);

    int getStatus() const { return status_; }
    const String& getVersion() const { return version_; }
    const String& getReason() const { return reason_; }
    HttpHeader& getHeaders() { return headers_; }
    const HttpHeader& getHeaders() const { return headers_; }
    // Null until a head has been read.
    SocketInputStream* getBody() const { return body_.get(); }
    // "Content-Length" as a number, -1 when absent or not numeric: then the
    // body is close-delimited and its stream ends at the end of the
    // connection.
    int getContentLength() const;
    // The Content-Encoding header's value as sent, "" when absent.
    String getContentEncoding() const;
    // The Content-Type header's value without surrounding blanks, "" when
    // absent.
    String getContentType() const;
    // True when the body carries a content coding other than identity.
    bool isContentCoded() const;

    enum BodyResult {
        kBodyComplete,
        kBodyTooLarge,      // more than the limit (after decoding)
        kBodyShort,         // the stream ended before Content-Length bytes
        kBodyBadCoding,     // corrupt or truncated gzip/deflate data
        kBodyUnknownCoding  // a coding other than gzip, deflate or identity
    };
    // Reads the whole body into body, decoded when it is gzip or deflate:
    // Content-Length bytes when announced, else to the end of the stream.
    // limit bounds the decoded bytes. On failure body holds what was decoded
    // so far and reason says why (for the log). Socket failures raise.
    BodyResult readBody(String& body, long limit, String* reason = nullptr);
    // Status line and headers as text, for the log.
    String getText() const;

    // One line of at most kMaxLine bytes without its LF and a final CR; its
    // length (kMaxLine: too long), -1 at end of stream, or a negative socket
    // result. buffer holds kMaxLine + 1 bytes.
    static int readLine(SocketReader& reader, char* buffer);

private:
    int readFirstLine(SocketReader& reader, char* buffer);
    bool readHeaderLines(SocketReader& reader, char* buffer);
    BodyResult readCodedBody(String& body, long limit, String& reason);

    String version_;
    int status_ = -1;
    String reason_;
    HttpHeader headers_;
    std::unique_ptr<SocketInputStream> body_;
};
