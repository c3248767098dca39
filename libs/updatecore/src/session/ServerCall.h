#pragma once

#include <functional>
#include <memory>

#include "String.h"
#include "session/ConnectionFactory.h"
#include "session/ExchangePolicy.h"

class HttpConnection;
class HttpRequest;
class HttpResponse;
class ServerSession;

// What an exchange that wants a body back came to.
enum class Answer {
    kBody,       // status 200 with a body, which was read whole
    kNotSent,    // no connection, or the send failed
    kBadStatus,  // a status other than 200
    kNoBody,     // 200 without a body, or one larger than the limit
};

// One server's turn in a run over the servers. It owns the connection it
// opened: requests go out through it, the session counts what came back
// when the connection goes, and a failure raised during the turn closes it
// quietly (abandon).
class ServerCall {
public:
    // Largest response body held in memory (update answer, ping, session id).
    static constexpr int kMaxBodyInMemory = 16 * 1024 * 1024;

    ServerCall(ServerSession& session, const ExchangePolicy& policy, const String& host);
    ~ServerCall();
    ServerCall(const ServerCall&) = delete;
    ServerCall& operator=(const ServerCall&) = delete;

    const String& host() const { return host_; }

    // Opens a connection of the given kind in place of any earlier one,
    // keep-alive off unless keepAlive; false when the settings allow none.
    // serverEntry names the server a failed certificate check reports when
    // it is not this call's host.
    bool open(ConnectionKind kind, bool keepAlive = true, const String& serverEntry = String());
    // Sends request and logs the exchange, keeping the status for the
    // session. False when nothing is open or the send failed (logged when
    // the policy says so). Transport failures pass.
    bool send(HttpRequest& request, HttpResponse& response);
    // send, then "Processing update list" and a 200 answer's body into body,
    // closing the connection then.
    Answer fetchAnswer(HttpRequest& request, String& body);
    // The same for a download session id: the exchange itself is not logged.
    Answer fetchSessionId(HttpRequest& request, String& sessionId);
    // The whole body of response into body, within the connection's body
    // deadline, decoded when it is gzip or deflate; false (with a log line)
    // when it is larger than kMaxBodyInMemory once decoded, short, or wrongly
    // coded. Transport failures pass.
    bool readBody(HttpResponse& response, String& body);
    // The session's count of bytes received, with what the open connection
    // has received so far.
    int64_t bytesFetched() const;
    // The read time-out of the open connection.
    int timeoutMs() const;
    void close();

    // A step to take when the turn raises a failure, before it is logged.
    void onFailure(std::function<void()> step) { onFailure_ = std::move(step); }
    // After a failure: closes the connection quietly, takes the onFailure
    // step, and gives the address the connection reached or tried last ("" when
    // none).
    String abandon();

private:
    bool transmit(HttpRequest& request, HttpResponse& response);
    Answer takeBody(HttpResponse& response, String& body);
    void release();

    ServerSession& session_;
    const ExchangePolicy& policy_;
    const String& host_;
    std::unique_ptr<HttpConnection> connection_;
    std::function<void()> onFailure_;
};
