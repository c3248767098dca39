#pragma once

#include <cstdint>
#include <memory>

#include "String.h"
#include "net/ClientSocket.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

// One HTTP/1.0 request exchange with a server, directly or through an HTTP
// proxy. Configure, call sendAndReceive once, then close and delete.
class HttpConnection {
public:
    // The message of the IOException raised when the proxy answers 407 to a
    // forwarded request or to CONNECT: a proxy failure by its prefix, told
    // apart from an unreachable proxy by the rest.
    static constexpr const char* kProxyAuthenticationFailed =
        "EC_PROXY_FAILED: proxy authentication failed (407)";

    HttpConnection() = default;
    virtual ~HttpConnection() = default;
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // Connects to the target, or to the proxy when one is set (and, when
    // tunnelling, opens a CONNECT tunnel). Raises the socket's exceptions,
    // and kProxyAuthenticationFailed for a 407 to CONNECT.
    virtual void open();

    void setProxy(const String& host, int port);
    void setProxyCredentials(const String& user, const String& password);
    // Kept for callers; never sent.
    void setServerCredentials(const String& user, const String& password);
    void setTimeout(int milliseconds) { timeout_ = milliseconds; }
    void setKeepAlive(bool keepAlive) { keepAlive_ = keepAlive; }
    void setTunnel(bool tunnel) { tunnel_ = tunnel; }

    // Completes the request's headers (Host among them; they stay in
    // request), connects,
    // writes the request and its body and reads the response head into
    // response. False when the request did not go out (not connected, both
    // post data and a post file, a missing post file, a failed write); true
    // otherwise, the response then telling what came back (status -1: no
    // head could be read). Socket and TLS failures raise, and so does a 407
    // from the proxy to a forwarded request (kProxyAuthenticationFailed).
    // The head must arrive within the time-out as a whole, not per read.
    bool sendAndReceive(HttpRequest& request, HttpResponse& response);
    // Bounds the reads of a body held in memory: all of it within
    // kBodyTimeouts x the time-out from now. Downloads to a file are bounded
    // by their rate instead.
    static constexpr int kBodyTimeouts = 4;
    void startBodyDeadline();
    void close();

    bool isConnected() const { return connected_; }
    int getTimeout() const { return timeout_; }
    const String& getServerUser() const { return serverUser_; }
    const String& getServerPassword() const { return serverPassword_; }
    ClientSocket* getSocket() const { return socket_.get(); }
    // The bytes of response heads and bodies read on this connection, over
    // every socket it had (a tunnel's CONNECT answer is not among them).
    int64_t bytesReceived() const;

protected:
    // Host and port the socket connects to: the proxy's or the target's.
    const String& connectHost() const { return useProxy_ ? proxyHost_ : target_.getHost(); }
    int connectPort() const { return useProxy_ ? proxyPort_ : target_.getPort(); }
    bool usesProxy() const { return useProxy_; }
    // The request's host, also when the socket goes to a proxy.
    const String& targetHost() const { return target_.getHost(); }
    int targetPort() const { return target_.getPort(); }
    // Takes the new socket (replacing any earlier one) and gives it the
    // time-out when one is set.
    ClientSocket* installSocket(std::unique_ptr<ClientSocket> socket);
    void updateConnected() { connected_ = socket_ && socket_->isConnected(); }
    // CONNECT through the proxy over the open socket; true on status 200.
    // Raises kProxyAuthenticationFailed on 407.
    bool setUpTunnel();

private:
    void applyTimeout(ClientSocket& socket) const;
    void completeHeaders(HttpRequest& request) const;
    void checkProxyAnswer(const HttpResponse& response) const;
    bool addBodyLength(HttpRequest& request) const;
    bool writeAll(const String& text);
    bool writeAll(const char* data, int length);
    bool writeBody(const HttpRequest& request);
    String proxyAuthorization() const;

    URL target_;
    bool useProxy_ = false;
    String proxyHost_;
    int proxyPort_ = -1;
    String proxyUser_;
    String proxyPassword_;
    String serverUser_;
    String serverPassword_;
    std::unique_ptr<ClientSocket> socket_;
    int timeout_ = -1;
    bool connected_ = false;
    bool keepAlive_ = true;
    bool tunnel_ = false;
    int64_t earlierSockets_ = 0;  // bytesReceived of the sockets replaced
};
