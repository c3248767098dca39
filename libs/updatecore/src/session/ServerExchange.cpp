#include "session/ServerExchange.h"

#include <algorithm>
#include <cstdio>

#include "Exception.h"
#include "Utils.h"
#include "net/ClientSocket.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"
#include "report/Report.h"
#include "session/RequestBuilder.h"
#include "session/TransportErrors.h"

namespace {

// The address a connection's socket connected to or tried last, "" when
// it has none yet.
String addressTried(const HttpConnection* connection) {
    if (connection == nullptr || connection->getSocket() == nullptr) {
        return String();
    }
    return connection->getSocket()->getRemoteText();
}

void logAddress(const String& host, const HttpConnection* connection) {
    String address = addressTried(connection);
    if (!address.isEmpty()) {
        log("Connected to " + host + " at " + address);
    }
}

// A proxy that wants other credentials is told apart from one that cannot
// be reached, in the log and on standard error.
void reportProxyAuthentication(const String& message) {
    if (message != HttpConnection::kProxyAuthenticationFailed) {
        return;
    }
    String line("LmUpdate: proxy authentication failed (407)");
    log(line);
    line.append('\n');
    std::fwrite(line.data(), 1, static_cast<size_t>(line.length()), stderr);
    std::fflush(stderr);
}

void closeQuietly(HttpConnection* connection) {
    if (connection == nullptr) {
        return;
    }
    try {
        connection->close();
    } catch (const Exception&) {
        // Nothing more can go wrong with a connection that is being dropped.
    }
}

}  // namespace

ServerCall::ServerCall(ServerExchange& exchange, const String& host)
    : exchange_(exchange), host_(host) {}

ServerCall::~ServerCall() = default;

HttpConnection* ServerCall::open(int kind, bool keepAlive, const String& serverEntry) {
    connection_ = exchange_.connections_.open(kind, serverEntry.isEmpty() ? host_ : serverEntry);
    if (connection_ != nullptr && !keepAlive) {
        connection_->setKeepAlive(false);
    }
    return connection_.get();
}

bool ServerCall::send(HttpConnection* connection, HttpRequest& request, HttpResponse& response) {
    if (connection == nullptr || !connection->sendAndReceive(request, response)) {
        if (exchange_.policy_.logUnsent) {
            log("Connecting to " + host_ + " failed");
        }
        return false;
    }
    logAddress(host_, connection);
    ServerExchange::logExchange(request, response);
    exchange_.state_.httpStatus = response.getStatus();
    return true;
}

Answer ServerCall::exchangeForAnswer(HttpConnection* connection, HttpRequest& request,
                                     String& body) {
    HttpResponse response;
    if (!send(connection, request, response)) {
        return Answer::kNotSent;
    }
    log("Processing update list");
    int status = response.getStatus();
    if (status != 200) {
        log("LmUpdate: http response: " + decimalText(status));
        return Answer::kBadStatus;
    }
    body.clear();
    if (response.getBody() == nullptr) {
        log("LmUpdate: no data is available in response");
        return Answer::kNoBody;
    }
    if (!ServerExchange::readBody(*connection, response, body)) {
        body.clear();
        return Answer::kNoBody;
    }
    connection->close();
    return Answer::kBody;
}

int ServerExchange::run(const Attempt& attempt) {
    Vector<String> servers = state_.serversToTry(settings_);
    int count = policy_.firstServerOnly ? std::min(1, servers.size()) : servers.size();
    for (int i = 0; i < count; ++i) {
        Step step = attemptAt(servers[i], attempt);
        if (step.ends) {
            return step.result;
        }
    }
    return policy_.exhausted;
}

Step ServerExchange::attemptAt(const String& host, const Attempt& attempt) {
    ServerCall call(*this, host);
    try {
        return attempt(call);
    } catch (const Exception& e) {
        return failed(call, e.getMessage());
    }
}

Step ServerExchange::failed(ServerCall& call, const String& message) {
    String address = addressTried(call.connection_.get());
    closeQuietly(call.connection_.get());
    if (call.onFailure_) {
        call.onFailure_();
    }
    if (policy_.failureLog == ExchangePolicy::FailureLog::kHostAndMessage) {
        log("Connecting to " + call.host() + " failed: " + message);
    } else if (policy_.failureLog == ExchangePolicy::FailureLog::kMessage) {
        log(message);
    }
    if (!address.isEmpty()) {
        log("Address tried for " + call.host() + ": " + address);
    }
    reportProxyAuthentication(message);
    String name = TransportErrors::nameFor(message, settings_);
    if (policy_.reportErrorName && !name.isEmpty()) {
        reportError(name);
    }
    switch (policy_.afterFailure) {
        case ExchangePolicy::AfterFailure::kTransportCode:
            return Step::end(TransportErrors::codeFor(message, settings_));
        case ExchangePolicy::AfterFailure::kResult:
            return Step::end(policy_.failureResult);
        case ExchangePolicy::AfterFailure::kNextServer:
            break;
    }
    return Step::next();
}

Answer ServerExchange::fetchSessionId(const String& host, const String& url, String& sessionId) {
    auto connection = connections_.open(ConnectionFactory::kSessionConnection, host);
    if (connection == nullptr) {
        return Answer::kNotSent;
    }
    connection->setKeepAlive(false);
    HttpRequest request(URL(ConnectionFactory::sessionUrl(settings_, host, "/lm-sessionid")));
    RequestBuilder::addTextHeader(request, "X-Lm-Update-Protocol-Version", "1.0");
    RequestBuilder::addTextHeader(request, "X-Lm-Update-URL", url);
    RequestBuilder::addTextHeader(request, "X-Lm-Update-MAC", settings_.mac);
    HttpResponse response;
    if (!connection->sendAndReceive(request, response)) {
        return Answer::kNotSent;
    }
    logAddress(host, connection.get());
    state_.httpStatus = response.getStatus();
    if (state_.httpStatus != 200) {
        return Answer::kBadStatus;
    }
    if (response.getBody() == nullptr) {
        log("LmUpdate: no data is available in response");
        return Answer::kNoBody;
    }
    if (!readBody(*connection, response, sessionId)) {
        return Answer::kNoBody;
    }
    connection->close();
    return Answer::kBody;
}

bool ServerExchange::readBody(HttpConnection& connection, HttpResponse& response, String& body) {
    connection.startBodyDeadline();
    if (response.getBody() == nullptr) {
        return false;
    }
    String reason;
    HttpResponse::BodyResult result = response.readBody(body, kMaxBodyInMemory, &reason);
    if (result == HttpResponse::kBodyComplete) {
        return true;
    }
    log((result == HttpResponse::kBodyTooLarge ? "LmUpdate: response body too large: "
                                               : "LmUpdate: response body unreadable: ") +
        reason);
    return false;
}

void ServerExchange::logExchange(const HttpRequest& request, const HttpResponse& response) {
    log(request.getRequestText());
    log(response.getText());
}
