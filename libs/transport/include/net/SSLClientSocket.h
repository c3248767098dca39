#pragma once

#include <memory>

#include "net/ClientSocket.h"
#include "net/SSLClient.h"
#include "net/TlsVerification.h"

// A client socket whose reads and writes go through a TLS session. open
// makes the plain TCP connection; handshake then starts TLS over it.
class SSLClientSocket : public ClientSocket {
public:
    explicit SSLClientSocket(const SocketAddress& remote);
    SSLClientSocket(const InetAddress& host, int port);
    SSLClientSocket(const char* host, int port);
    explicit SSLClientSocket(int connectedFd);
    ~SSLClientSocket() override;

    int open() override;
    // TLS write: the count written, 0 when it must be retried, -1 for no
    // data or length < 1.
    int write(const char* data, int length) override;
    // TLS read: the count, 0 at the end of the session, -1 when nothing could
    // be read or for no buffer or size < 1.
    int read(char* buffer, int size) override;
    // Ends the TLS session, then closes like a plain socket; only when
    // connected.
    void close() override;

    // How the server's certificate is checked; the system's trust store
    // unless set.
    void setVerification(const TlsVerification& verification) { verification_ = verification; }
    // The server's name for SNI and the certificate check: the host given to
    // the constructor, else the remote address. A proxy tunnel sets the
    // target's.
    void setServerName(const String& name) { serverName_ = name; }
    const String& getServerName() const { return serverName_; }
    // Only when connected (else -1); 0 on success, failures raise.
    int handshake();

    SSLClient* getClient() const { return client_.get(); }

private:
    unsigned alarmSeconds() const;
    unsigned readAlarmSeconds() const;
    // Waits for the descriptor to take data; raises the read or write
    // time-out or failure.
    void awaitWritable(bool reading);

    std::unique_ptr<SSLClient> client_;
    TlsVerification verification_;
    String serverName_;
};
