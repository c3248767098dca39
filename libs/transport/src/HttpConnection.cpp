#include "net/HttpConnection.h"

#include "Base64.h"
#include "SystemLog.h"
#include "io/File.h"
#include "io/FileInputStream.h"

namespace {
constexpr const char kSource[] = "net/HttpConnection";
constexpr int kFileBlock = 1024;
constexpr int kProxyAuthenticationRequired = 407;
}  // namespace

void HttpConnection::setProxy(const String& host, int port) {
    proxyHost_ = host;
    proxyPort_ = port;
    useProxy_ = true;
}

void HttpConnection::setProxyCredentials(const String& user, const String& password) {
    proxyUser_ = user;
    proxyPassword_ = password;
}

void HttpConnection::setServerCredentials(const String& user, const String& password) {
    serverUser_ = user;
    serverPassword_ = password;
}

ClientSocket* HttpConnection::installSocket(std::unique_ptr<ClientSocket> socket) {
    earlierSockets_ = bytesReceived();
    socket_ = std::move(socket);
    connected_ = false;
    applyTimeout(*socket_);
    return socket_.get();
}

// A time-out of 0 or less leaves the socket's own (none): 0 must not turn
// into a wait of no time at all.
void HttpConnection::applyTimeout(ClientSocket& socket) const {
    if (timeout_ > 0) {
        socket.setTimeout(timeout_);
    }
}

void HttpConnection::open() {
    ClientSocket* socket =
        installSocket(std::make_unique<ClientSocket>(connectHost().c_str(), connectPort()));
    socket->open();
    updateConnected();
    if (useProxy_ && tunnel_) {
        setUpTunnel();
    }
}

int64_t HttpConnection::bytesReceived() const {
    return earlierSockets_ + (socket_ ? socket_->bytesReceived() : 0);
}

void HttpConnection::close() {
    if (connected_) {
        socket_->close();
        connected_ = false;
    }
}

String HttpConnection::proxyAuthorization() const {
    return "Basic " + Base64::encode(proxyUser_ + ":" + proxyPassword_);
}

bool HttpConnection::setUpTunnel() {
    ClientSocket tunnel(socket_->getFD());
    applyTimeout(tunnel);
    String line("CONNECT ");
    line.append(target_.getHostText()).append(':').append(target_.getPort());
    line.append(" HTTP/1.0\r\n");
    HttpHeader headers;
    headers.addHeader("Host", target_.getHostHeader());
    headers.addHeader("User-Agent", "Mozilla/4.0");
    if (!proxyUser_.isEmpty()) {
        headers.addHeader("Proxy-authorization", proxyAuthorization());
    }
    String text = line + headers.getText() + "\r\n";
    bool sent = tunnel.write(text.c_str(), text.length()) == text.length();
    // The tunnel request goes to the system log; the credentials must not.
    SystemLog::write(line + headers.getLogText() + "\r\n");
    HttpResponse response;
    if (sent) {
        response.read(&tunnel);
    }
    SystemLog::write(response.getText());
    checkProxyAnswer(response);
    return response.getStatus() == 200;
}

// Through a tunnel a 407 would be the origin's own answer, not the proxy's.
void HttpConnection::checkProxyAnswer(const HttpResponse& response) const {
    if (useProxy_ && response.getStatus() == kProxyAuthenticationRequired) {
        SystemLog::write(kProxyAuthenticationFailed, LogPriority::kError);
        throw IOException(kProxyAuthenticationFailed, kSource, __LINE__);
    }
}

void HttpConnection::completeHeaders(HttpRequest& request) const {
    HttpHeader& headers = request.getHeaders();
    headers.setHeader("Host", request.getURL().getHostHeader());
    if (keepAlive_) {
        headers.addHeader(useProxy_ ? "Proxy-Connection" : "Connection", "Keep-Alive");
    }
    if (useProxy_ && !tunnel_ && !proxyUser_.isEmpty()) {
        headers.addHeader("Proxy-authorization", proxyAuthorization());
    }
}

bool HttpConnection::addBodyLength(HttpRequest& request) const {
    const String& data = request.getPostData();
    const String& path = request.getPostFile();
    if (!data.isEmpty() && !path.isEmpty()) {
        SystemLog::write("Post both data buffer and file", LogPriority::kError);
        return false;
    }
    if (!path.isEmpty()) {
        File file(path);
        int64_t size = file.exists() ? file.length() : -1;
        // Only a regular file has a length to announce and bytes to send.
        if (size < 0) {
            SystemLog::write("invalid post file path", LogPriority::kError);
            return false;
        }
        request.getHeaders().addIntHeader("Content-Length", size);
    } else if (!data.isEmpty()) {
        request.getHeaders().addIntHeader("Content-Length", data.length());
    }
    return true;
}

bool HttpConnection::sendAndReceive(HttpRequest& request, HttpResponse& response) {
    target_ = request.getURL();
    completeHeaders(request);
    open();
    if (!connected_ || !addBodyLength(request)) {
        return false;
    }
    if (request.getHeaders().find("Keep-Alive") < 0) {
        request.getHeaders().addHeader("Connection", "close");
    }
    if (!writeAll(request.getWireText()) || !writeBody(request)) {
        SystemLog::write("HttpConnection: sending the request failed", LogPriority::kError);
        return false;
    }
    if (timeout_ > 0) {
        socket_->setReadDeadline(timeout_);
    }
    response.read(socket_.get());
    socket_->clearReadDeadline();
    if (!tunnel_) {
        checkProxyAnswer(response);
    }
    return true;
}

void HttpConnection::startBodyDeadline() {
    if (socket_ && timeout_ > 0) {
        socket_->setReadDeadline(kBodyTimeouts * timeout_);
    }
}

bool HttpConnection::writeAll(const String& text) {
    return writeAll(text.c_str(), text.length());
}

// A socket may take fewer bytes than offered; a request cut short would be
// silently corrupt, so keep going until all is sent or a write fails.
bool HttpConnection::writeAll(const char* data, int length) {
    if (length < 1) {
        return false;
    }
    int sent = 0;
    while (sent < length) {
        int count = socket_->write(data + sent, length - sent);
        if (count <= 0) {
            return false;
        }
        sent += count;
    }
    return true;
}

bool HttpConnection::writeBody(const HttpRequest& request) {
    if (!request.getPostData().isEmpty()) {
        return writeAll(request.getPostData());
    }
    if (request.getPostFile().isEmpty()) {
        return true;
    }
    FileInputStream in(request.getPostFile());
    char block[kFileBlock];
    bool written = true;
    int count = 0;
    while (written && (count = in.read(block, kFileBlock)) > 0) {
        written = writeAll(block, count);
    }
    in.close();
    return written;
}
