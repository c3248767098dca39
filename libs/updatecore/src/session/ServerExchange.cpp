#include "session/ServerExchange.h"

#include <algorithm>
#include <cstdio>

#include "Exception.h"
#include "net/HttpConnection.h"
#include "report/Report.h"
#include "session/ServerSession.h"
#include "session/TransportErrors.h"

namespace {

Vector<String> serversToTry(const NetworkSettings& settings, const Vector<String>& redirected) {
    if (redirected.size() > 0) {
        return redirected;
    }
    Vector<String> servers;
    for (int i = 0; i < settings.servers.size(); ++i) {
        servers.add(settings.servers[i]);
    }
    return servers;
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

}  // namespace

ServerExchange::ServerExchange(ServerSession& session, const NetworkSettings& settings,
                               ExchangePolicy policy, const Vector<String>& servers)
    : session_(session),
      settings_(settings),
      policy_(policy),
      servers_(serversToTry(settings, servers)) {}

ServerExchange::End ServerExchange::run(const Attempt& attempt) {
    int count = policy_.firstServerOnly ? std::min(1, servers_.size()) : servers_.size();
    failure_.reset();
    for (int i = 0; i < count; ++i) {
        if (attemptAt(servers_[i], attempt)) {
            return failure_ ? End::kFailed : End::kAnswered;
        }
    }
    return End::kExhausted;
}

bool ServerExchange::attemptAt(const String& host, const Attempt& attempt) {
    ServerCall call(session_, policy_, host);
    try {
        return attempt(call);
    } catch (const Exception& e) {
        return failed(call, e.getMessage());
    }
}

bool ServerExchange::failed(ServerCall& call, const String& message) {
    String address = call.abandon();
    if (policy_.failureLog == ExchangePolicy::FailureLog::kHostAndMessage) {
        logError("Connecting to " + call.host() + " failed: " + message);
    } else if (policy_.failureLog == ExchangePolicy::FailureLog::kMessage) {
        logError(message);
    }
    if (!address.isEmpty()) {
        log("Address tried for " + call.host() + ": " + address);
    }
    reportProxyAuthentication(message);
    session_.noteCause(
        FailureCause::ofTransport(message, settings_.isUsingProxy.equalsIgnoreCase("1")));
    String name = TransportErrors::nameFor(message, settings_);
    if (policy_.reportErrorName && !name.isEmpty()) {
        reportError(name);
    }
    if (!policy_.endAtFailure) {
        return false;
    }
    failure_ = message;
    return true;
}
