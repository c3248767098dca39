#pragma once

#include <functional>
#include <optional>

#include "NetworkSettings.h"
#include "String.h"
#include "Vector.h"
#include "session/ExchangePolicy.h"
#include "session/ServerCall.h"

class ServerSession;

// The step every request to the update servers shares: for each server in
// turn (or the first only), a ServerCall for the attempt; a failure the
// attempt raises closes the call's connection, is logged and named as the
// policy says, and moves on to the next server or ends the run.
class ServerExchange {
public:
    // How a run over the servers ended.
    enum class End {
        kAnswered,   // an attempt ended it
        kFailed,     // a raised failure ended it (failure() says which)
        kExhausted,  // every server was tried
    };
    // One server's attempt; true ends the run.
    using Attempt = std::function<bool(ServerCall&)>;

    // servers: those a redirect named for this run, else the settings' own.
    ServerExchange(ServerSession& session, const NetworkSettings& settings, ExchangePolicy policy,
                   const Vector<String>& servers = Vector<String>());

    End run(const Attempt& attempt);

    const NetworkSettings& settings() const { return settings_; }
    ServerSession& session() { return session_; }
    // The servers the run goes through, in order.
    const Vector<String>& servers() const { return servers_; }
    // The message of the failure that ended the run ("" when none did).
    String failure() const { return failure_.value_or(String()); }

private:
    bool attemptAt(const String& host, const Attempt& attempt);
    bool failed(ServerCall& call, const String& message);

    ServerSession& session_;
    const NetworkSettings& settings_;
    const ExchangePolicy policy_;
    Vector<String> servers_;
    std::optional<String> failure_;
};
