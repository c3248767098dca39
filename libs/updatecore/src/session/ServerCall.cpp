#include "session/ServerCall.h"

#include <cstdio>

#include "Exception.h"
#include "Utils.h"
#include "net/ClientSocket.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "report/Report.h"
#include "session/ServerSession.h"

namespace {

// The address a connection's socket connected to or tried last, "" when
// it has none yet.
String addressTried(const HttpConnection* connection) {
    if (connection == nullptr || connection->getSocket() == nullptr) {
        return String();
    }
    return connection->getSocket()->getRemoteText();
}

void logAddress(const String& host, const HttpConnection& connection) {
    String address = addressTried(&connection);
    if (!address.isEmpty()) {
        log("Connected to " + host + " at " + address);
    }
}

}  // namespace

ServerCall::ServerCall(ServerSession& session, const ExchangePolicy& policy, const String& host)
    : session_(session), policy_(policy), host_(host) {}

ServerCall::~ServerCall() {
    release();
}

void ServerCall::release() {
    if (connection_ != nullptr) {
        session_.countReceived(connection_->bytesReceived());
        connection_.reset();
    }
}

bool ServerCall::open(ConnectionKind kind, bool keepAlive, const String& serverEntry) {
    release();
    connection_ = session_.connections().open(kind, serverEntry.isEmpty() ? host_ : serverEntry);
    if (connection_ != nullptr && !keepAlive) {
        connection_->setKeepAlive(false);
    }
    return connection_ != nullptr;
}

bool ServerCall::transmit(HttpRequest& request, HttpResponse& response) {
    if (connection_ == nullptr || !connection_->sendAndReceive(request, response)) {
        if (policy_.logUnsent) {
            logError("Connecting to " + host_ + " failed");
        }
        return false;
    }
    logAddress(host_, *connection_);
    session_.noteStatus(response.getStatus());
    return true;
}

bool ServerCall::send(HttpRequest& request, HttpResponse& response) {
    if (!transmit(request, response)) {
        return false;
    }
    log(request.getRequestText());
    log(response.getText());
    return true;
}

Answer ServerCall::fetchAnswer(HttpRequest& request, String& body) {
    HttpResponse response;
    if (!send(request, response)) {
        return Answer::kNotSent;
    }
    log("Processing update list");
    int status = response.getStatus();
    if (status != 200) {
        logError("LmUpdate: http response: " + decimalText(status));
        return Answer::kBadStatus;
    }
    return takeBody(response, body);
}

Answer ServerCall::fetchSessionId(HttpRequest& request, String& sessionId) {
    HttpResponse response;
    if (!transmit(request, response)) {
        return Answer::kNotSent;
    }
    if (response.getStatus() != 200) {
        return Answer::kBadStatus;
    }
    return takeBody(response, sessionId);
}

Answer ServerCall::takeBody(HttpResponse& response, String& body) {
    body.clear();
    if (response.getBody() == nullptr) {
        logError("LmUpdate: no data is available in response");
        return Answer::kNoBody;
    }
    if (!readBody(response, body)) {
        body.clear();
        return Answer::kNoBody;
    }
    close();
    return Answer::kBody;
}

bool ServerCall::readBody(HttpResponse& response, String& body) {
    if (connection_ == nullptr || response.getBody() == nullptr) {
        return false;
    }
    connection_->startBodyDeadline();
    String reason;
    HttpResponse::BodyResult result = response.readBody(body, kMaxBodyInMemory, &reason);
    if (result == HttpResponse::kBodyComplete) {
        return true;
    }
    logError((result == HttpResponse::kBodyTooLarge ? "LmUpdate: response body too large: "
                                                    : "LmUpdate: response body unreadable: ") +
             reason);
    return false;
}

int64_t ServerCall::bytesFetched() const {
    return session_.bytesFetched() + (connection_ != nullptr ? connection_->bytesReceived() : 0);
}

int ServerCall::timeoutMs() const {
    return connection_ != nullptr ? connection_->getTimeout() : 0;
}

void ServerCall::close() {
    if (connection_ != nullptr) {
        connection_->close();
    }
}

String ServerCall::abandon() {
    String address = addressTried(connection_.get());
    try {
        close();
    } catch (const Exception&) {
        // Nothing more can go wrong with a connection that is being dropped.
    }
    if (onFailure_) {
        onFailure_();
    }
    return address;
}
