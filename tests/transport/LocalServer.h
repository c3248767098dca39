#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// A TCP server on 127.0.0.1 with an ephemeral port, run by one thread of the
// test process: each accepted connection is handed to the handler, then
// closed. The thread blocks SIGALRM and SIGPIPE so that the client's alarm
// and broken pipes reach the code under test, not the server.
class LocalServer {
public:
    using Handler = std::function<void(int fd)>;

    explicit LocalServer(Handler handler);
    ~LocalServer();
    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int port() const { return port_; }
    // Waits for the connection being served, then stops accepting.
    void stop();

private:
    void run();

    int listenFd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    Handler handler_;
    std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens.
int closedPort();

// Reads up to and including the blank line that ends a head ("" when the
// peer closes first).
std::string readHead(int fd);
// A head and as many body bytes as its Content-Length announces.
std::string readRequest(int fd);
// Reads until the peer closes or 5 s pass.
std::string readUntilClosed(int fd);
void sendAll(int fd, const std::string& bytes);
// "HTTP/1.0 200 OK" with a Content-Length and the body.
std::string okResponse(const std::string& body);

// The server side of TLS.
struct SslCtxDeleter {
    void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslDeleter {
    void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using ServerContext = std::unique_ptr<SSL_CTX, SslCtxDeleter>;
using ServerSession = std::unique_ptr<SSL, SslDeleter>;

ServerContext makeServerContext(const std::string& certificate, const std::string& key);
// Accepts a TLS handshake on fd; null when it fails.
ServerSession acceptTls(SSL_CTX* context, int fd);
// Reads a whole request over TLS ("" on failure).
std::string readTlsRequest(SSL* ssl);
void sendTls(SSL* ssl, const std::string& bytes);
