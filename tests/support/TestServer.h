#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

class ToolProcess;

// One HTTP request as the test server received it.
struct RecordedRequest {
    std::string requestLine;  // "POST /lm/update HTTP/1.0"
    std::string method;
    std::string target;  // as sent: a path with query, an absolute URI, or host:port
    std::string path;    // the target's path and query ("/lm-update", "/control?act=ping")
    std::string version;
    std::vector<std::pair<std::string, std::string>> headers;  // in order, as sent
    std::string body;                                          // bytes as received
    bool tls = false;                                          // arrived over TLS
    bool proxied = false;  // the server forwarded it (proxy mode)
    std::string sni;       // the TLS server name the client sent, "" when none

    // The value of the first header of that name (case-insensitive), "" when absent.
    std::string header(const std::string& name) const;
    bool hasHeader(const std::string& name) const;
};

// The project's test update server (tools/update_server.py), started
// on 127.0.0.1 (or ::1) with an ephemeral port and stopped by the destructor.
//
// Routes match the path and query of the request target (an absolute URI
// is reduced to them). The configuration is a JSON text:
//   { "routes": { "<METHOD> <path?query>": answer-or-list-of-answers, ... },
//     "default": answer }                       // else 404
// A route key's method may be "*". A request whose exact key has no route is
// tried again without its query string. A list answers successive requests in
// turn, its last answer repeating. An answer is an object:
//   "status": 200, "reason": "OK", "headers": {"Name": "value", ...},
//   "body": "text" | "body_file": "/path" | "body_repeat": "x", "body_count": N,
//   "content_length": N   (sent instead of the true length; -1 omits the header:
//                          a close-delimited body),
//   "encoding": "gzip" | "deflate" | "raw-deflate"  (the body compressed, with
//                          its Content-Encoding; deflate zlib-wrapped or raw),
//   "redirect": "/path"   (a redirect, "status" 302 unless given (301, 303,
//                          307, 308), "Location" the path as given or, with
//                          "absolute_location": true, made absolute on the
//                          request's Host),
//   "ignore_range": true  (answer 200 with the whole body to a Range request),
//   "max_ranges": N       (a Range naming more than N ranges gets 200 with the
//                          whole body, as nginx's max_ranges; 0 ignores Range),
//   "range_416": true     (416 to any Range request),
//   "tamper_ranges": true (the first byte of the first range sent flipped),
//   "broken_multipart": true  (a multipart answer's delimiter before its
//                          second part garbled: the boundary reversed),
//   "close_after": N      (close after N body bytes),
//   "delay_head": s       (seconds before the status line),
//   "chunk_size": N, "chunk_delay": s   (slow body),
//   "drip_head": s, "drip_body": s   (the head or the body one byte every
//                                     s seconds),
//   "garbage": "text"     (sent instead of an HTTP answer, then close),
//   "silent": true        (read the request, never answer, keep the connection)
// Range (on a 200 answer, after "encoding"; unless ignore_range): "bytes="
// with a comma-separated list of "a-b", "a-" and suffix "-n" ranges. One
// satisfiable range gets 206 with "Content-Range: bytes a-b/size"; several
// get 206 "Content-Type: multipart/byteranges; boundary=LmTestRanges0123456789",
// one part per satisfiable range in the order asked, each with
// "Content-Type: application/octet-stream" and its Content-Range:
//   --B CRLF part-head CRLF CRLF bytes CRLF --B ... CRLF --B-- CRLF
// None satisfiable: 416 with "Content-Range: bytes */size". A malformed
// header (a range whose last byte comes before its first, not "bytes=")
// gets 200 with the whole body.
class TestServer {
public:
    struct Options {
        std::string tlsCert;  // both set: HTTPS
        std::string tlsKey;
        // Forward absolute-URI requests and CONNECT tunnels to 127.0.0.1
        // targets (ordinary paths still get the routes).
        bool proxy = false;
        std::string proxyAuth;  // "user:password": require Proxy-authorization Basic, else 407
        bool ipv6 = false;      // listen on ::1 instead of 127.0.0.1
    };

    explicit TestServer(const std::string& configJson = "{}");
    TestServer(const std::string& configJson, const Options& options);
    ~TestServer();
    TestServer(const TestServer&) = delete;
    TestServer& operator=(const TestServer&) = delete;

    int port() const { return port_; }
    // "http://127.0.0.1:<port>" + path (https when TLS is on; [::1] for IPv6)
    std::string url(const std::string& path = "") const;
    // Replaces the configuration; the server takes it for the next request
    // (sequences restart).
    void setConfig(const std::string& configJson);
    // Every request received so far, oldest first.
    std::vector<RecordedRequest> requests() const;
    // The bytes of every answer sent so far, heads and bodies (before TLS).
    int64_t bytesSent() const;
    // The same, of the bodies alone.
    int64_t bodyBytesSent() const;
    // Lines the server wrote to its standard error (tracebacks), for diagnostics.
    std::string errors() const;

private:
    void start(const std::string& configJson, const Options& options);

    std::string dir_;
    std::string scheme_ = "http";
    std::string host_ = "127.0.0.1";
    std::unique_ptr<ToolProcess> process_;
    int port_ = 0;
};

// A JSON string literal (quoted and escaped) of any bytes, for building
// configurations: bytes above 0x7f become \u00XX (the server reads them back
// as single bytes).
std::string jsonString(const std::string& bytes);

// A CA and a server certificate for "localhost" and 127.0.0.1 signed by it,
// made with the openssl command, in dir. They are made once for the build
// tree and copied (SharedFiles.h); each call of a process gets a CA of its
// own.
struct TestCertificates {
    std::string caCert;  // PEM
    std::string caKey;
    std::string serverCert;  // PEM, signed by the CA
    std::string serverKey;   // PEM, unencrypted
};
TestCertificates makeTestCertificates(const std::string& dir);
// Where makeTestCertificates(dir) puts them.
TestCertificates testCertificatesIn(const std::string& dir);
