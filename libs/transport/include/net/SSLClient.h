#pragma once

#include <openssl/ssl.h>

#include <memory>

#include "String.h"

class TlsPeerCheck;

// The OpenSSL objects of one TLS client session over a connected
// descriptor: context set-up from the process-wide settings, handshake, peer
// checks, reads and writes.
class SSLClient {
public:
    // Default handshake limit when the socket has no time-out.
    static constexpr int kDefaultHandshakeMs = 180000;

    SSLClient();
    virtual ~SSLClient();
    SSLClient(const SSLClient&) = delete;
    SSLClient& operator=(const SSLClient&) = delete;

    // Sets up the session on fd and runs the handshake within timeoutMs
    // (below 1: kDefaultHandshakeMs), the server checked as peer says. 0 on
    // success; failures raise SSLException (with the verification reason
    // when the certificate was refused).
    int handshake(int fd, int timeoutMs, const TlsPeerCheck& peer);
    // The decrypted count; 0 at a clean end; -1 when nothing could be read.
    int read(char* buffer, int size);
    // The count written; 0 when the write must be retried.
    int write(const char* data, int length);
    // Sends the close notice and releases the session and its context.
    void end();

    long getVerifyResult() const { return verifyResult_; }
    bool hasStarted() const { return started_; }
    int getFD() const { return fd_; }

    // Loads the library's error strings and initialises it, once.
    static void startup();
    // Marks the library as stopped; OpenSSL frees its tables at exit.
    static void shutdown();
    static bool isLibraryStarted();
    // " OpenSSL/<version>" of the running library.
    static String getVersionText();
    static String formatVersion(unsigned long number);

private:
    struct ContextDeleter {
        void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
    };
    struct SessionDeleter {
        void operator()(SSL* ssl) const { SSL_free(ssl); }
    };
    void createContext(const TlsPeerCheck& peer);
    void createSession(int fd, const TlsPeerCheck& peer);
    void connect(int timeoutMs, const TlsPeerCheck& peer);
    [[noreturn]] void failHandshake(int savedErrno, const TlsPeerCheck& peer);
    void checkPeer();
    bool loadClientCertificate();
    void storeVerifyResult();

    std::unique_ptr<SSL_CTX, ContextDeleter> context_;
    std::unique_ptr<SSL, SessionDeleter> ssl_;
    long verifyResult_ = 0;
    int fd_ = -1;
    bool started_ = false;
    String keyPassword_;  // outlives the context that reads it
};
