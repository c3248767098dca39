#pragma once

#include <functional>
#include <memory>

#include "NetworkSettings.h"
#include "String.h"
#include "session/ConnectionFactory.h"
#include "session/SessionState.h"

class HttpConnection;
class HttpRequest;
class HttpResponse;
class ServerExchange;

// How a run over the servers differs between the requests that make one.
struct ExchangePolicy {
    // What is logged when an attempt raises a failure.
    enum class FailureLog { kHostAndMessage, kMessage, kNothing };
    // What a raised failure does to the run.
    enum class AfterFailure { kNextServer, kTransportCode, kResult };

    bool firstServerOnly = false;
    bool logUnsent = false;  // "Connecting to <host> failed" when nothing went out
    FailureLog failureLog = FailureLog::kHostAndMessage;
    bool reportErrorName = false;  // the failure's session error name to standard output
    AfterFailure afterFailure = AfterFailure::kNextServer;
    int failureResult = 0;  // the run's result for AfterFailure::kResult
    int exhausted = 0;      // the run's result when no server ended it
};

// What one server's attempt came to: the end of the run with a result, or
// the turn of the next server.
struct Step {
    bool ends;
    int result;

    static Step next() { return {false, 0}; }
    static Step end(int result) { return {true, result}; }
};

// What an exchange that wants a body back came to.
enum class Answer {
    kBody,       // status 200 with a body, which was read whole
    kNotSent,    // no connection, or the send failed
    kBadStatus,  // a status other than 200
    kNoBody,     // 200 without a body, or one larger than the limit
};

// One server's turn in a run: the connection the attempt opened, closed
// quietly when the attempt raises a failure.
class ServerCall {
public:
    ServerCall(ServerExchange& exchange, const String& host);
    ~ServerCall();
    ServerCall(const ServerCall&) = delete;
    ServerCall& operator=(const ServerCall&) = delete;

    const String& host() const { return host_; }

    // A connection of the given kind, keep-alive off unless keepAlive;
    // null when the settings allow none. serverEntry names the server a
    // failed certificate check reports when it is not this call's host.
    HttpConnection* open(int kind, bool keepAlive = true, const String& serverEntry = String());
    // Sends request over connection and logs the exchange, keeping the
    // status for the session. False when connection is null or the send
    // failed (logged when the policy says so). Transport failures pass.
    bool send(HttpConnection* connection, HttpRequest& request, HttpResponse& response);
    // send, then "Processing update list" and a 200 answer's body into body,
    // closing the connection then.
    Answer exchangeForAnswer(HttpConnection* connection, HttpRequest& request, String& body);
    // A step to take when the attempt raises a failure, before it is logged.
    void onFailure(std::function<void()> step) { onFailure_ = std::move(step); }

private:
    friend class ServerExchange;

    ServerExchange& exchange_;
    const String& host_;
    std::unique_ptr<HttpConnection> connection_;
    std::function<void()> onFailure_;
};

// The step every request to the update servers shares: for each server in
// turn (or the first only), open a connection, send, log the exchange,
// catch a failure, close, and map the failure to a result and an error
// name; the policy says where the run ends.
class ServerExchange {
public:
    // Largest response body held in memory (update answer, ping, session id).
    static constexpr int kMaxBodyInMemory = 16 * 1024 * 1024;

    using Attempt = std::function<Step(ServerCall&)>;

    ServerExchange(SessionState& state, const NetworkSettings& settings, ExchangePolicy policy)
        : state_(state), settings_(settings), policy_(policy), connections_(state.plainDownload) {}

    // Runs attempt for each server until one ends the run; its result, or
    // the policy's when none did.
    int run(const Attempt& attempt);

    const NetworkSettings& settings() const { return settings_; }
    SessionState& state() { return state_; }

    // Asks host's "/lm-sessionid" for the download session id of url over a
    // session-kind connection with keep-alive off; kBody brings the id. The
    // status, once there is one, is kept for the session. Transport
    // exceptions pass through.
    Answer fetchSessionId(const String& host, const String& url, String& sessionId);

    // The whole body of response into body, within the connection's body
    // deadline, decoded when it is gzip or
    // deflate; false (with a log line) when it is larger than
    // kMaxBodyInMemory once decoded, short, or wrongly coded. Transport
    // exceptions pass through.
    static bool readBody(HttpConnection& connection, HttpResponse& response, String& body);
    // Logs the request's and the response's head.
    static void logExchange(const HttpRequest& request, const HttpResponse& response);

private:
    friend class ServerCall;

    Step attemptAt(const String& host, const Attempt& attempt);
    Step failed(ServerCall& call, const String& message);

    SessionState& state_;
    const NetworkSettings& settings_;
    ExchangePolicy policy_;
    ConnectionFactory connections_;
};
