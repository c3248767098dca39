#pragma once

#include <memory>

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
    // "Content-Length" as a number, -1 when absent or not numeric.
    int getContentLength() const;
    // Status line and headers as text, for the log.
    String getText() const;

    // One line of at most kMaxLine bytes without its LF and a final CR; its
    // length (kMaxLine: too long), -1 at end of stream, or a negative socket
    // result. buffer holds kMaxLine + 1 bytes.
    static int readLine(ClientSocket& socket, char* buffer);

private:
    int readFirstLine(ClientSocket& socket, char* buffer);
    bool readHeaderLines(ClientSocket& socket, char* buffer);

    String version_;
    int status_ = -1;
    String reason_;
    HttpHeader headers_;
    std::unique_ptr<SocketInputStream> body_;
};
