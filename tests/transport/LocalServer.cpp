#include "LocalServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>

namespace {
int listenOn(int& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), size) < 0 || listen(fd, 16) < 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) < 0) {
        throw std::runtime_error("cannot listen on 127.0.0.1");
    }
    port = ntohs(address.sin_port);
    return fd;
}

void blockTestSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGALRM);
    sigaddset(&set, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

void setPeerTimeouts(int fd) {
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

size_t contentLength(const std::string& head) {
    std::string lower;
    for (char c : head) {
        lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    size_t at = lower.find("\r\ncontent-length:");
    return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 17, nullptr, 10);
}
}  // namespace

LocalServer::LocalServer(Handler handler) : handler_(std::move(handler)) {
    listenFd_ = listenOn(port_);
    thread_ = std::thread([this] { run(); });
}

LocalServer::~LocalServer() {
    stop();
    ::close(listenFd_);
}

void LocalServer::stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}

void LocalServer::run() {
    blockTestSignals();
    for (;;) {
        // Once stopping, serve what is already queued, then leave.
        bool last = stopping_;
        pollfd entry{listenFd_, POLLIN, 0};
        if (::poll(&entry, 1, last ? 0 : 20) > 0) {
            int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                setPeerTimeouts(fd);
                handler_(fd);
                ::close(fd);
            }
            continue;
        }
        if (last) {
            return;
        }
    }
}

int closedPort() {
    int port = 0;
    int fd = listenOn(port);
    ::close(fd);
    return port;
}

std::string readHead(int fd) {
    std::string head;
    char c = 0;
    while (head.find("\r\n\r\n") == std::string::npos && ::recv(fd, &c, 1, 0) == 1) {
        head += c;
    }
    return head;
}

std::string readRequest(int fd) {
    std::string request = readHead(fd);
    size_t wanted = contentLength(request);
    char buffer[4096];
    for (size_t got = 0; got < wanted;) {
        ssize_t n = ::recv(fd, buffer, std::min(sizeof buffer, wanted - got), 0);
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
    }
    return request;
}

std::string readUntilClosed(int fd) {
    std::string all;
    char buffer[4096];
    ssize_t n = 0;
    while ((n = ::recv(fd, buffer, sizeof buffer, 0)) > 0) {
        all.append(buffer, static_cast<size_t>(n));
    }
    return all;
}

void sendAll(int fd, const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        sent += static_cast<size_t>(n);
    }
}

std::string okResponse(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

ServerContext makeServerContext(const std::string& certificate, const std::string& key) {
    ServerContext context(SSL_CTX_new(TLS_server_method()));
    if (!context || SSL_CTX_use_certificate_chain_file(context.get(), certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context.get(), key.c_str(), SSL_FILETYPE_PEM) != 1) {
        throw std::runtime_error("cannot set up the TLS server context");
    }
    return context;
}

ServerSession acceptTls(SSL_CTX* context, int fd) {
    ServerSession ssl(SSL_new(context));
    SSL_set_fd(ssl.get(), fd);
    if (SSL_accept(ssl.get()) != 1) {
        return nullptr;
    }
    return ssl;
}

std::string readTlsRequest(SSL* ssl) {
    std::string request;
    char c = 0;
    while (request.find("\r\n\r\n") == std::string::npos && SSL_read(ssl, &c, 1) == 1) {
        request += c;
    }
    size_t wanted = contentLength(request);
    char buffer[4096];
    for (size_t got = 0; got < wanted;) {
        int n = SSL_read(ssl, buffer, static_cast<int>(std::min(sizeof buffer, wanted - got)));
        if (n <= 0) {
            break;
        }
        request.append(buffer, static_cast<size_t>(n));
        got += static_cast<size_t>(n);
    }
    return request;
}

void sendTls(SSL* ssl, const std::string& bytes) {
    SSL_write(ssl, bytes.data(), static_cast<int>(bytes.size()));
}
