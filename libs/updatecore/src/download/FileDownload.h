#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

#include "String.h"
#include "Vector.h"
#include "download/DownloadPolicy.h"
#include "download/DownloadTarget.h"
#include "download/TransferDeadline.h"
#include "session/ConnectionFactory.h"

class DeltaDownload;
class FileOutputStream;
class FileTransfer;
class OutputStream;
class HttpRequest;
class HttpResponse;
class InputStream;
class ServerCall;
class ServerExchange;
class ServerSession;
class URL;
struct NetworkSettings;

// For the run report: the transfers a download started, the server of the
// last one, the bytes a delta copied from the seed.
struct TransferStats {
    int attempts = 0;
    String server = String();
    int64_t reusedBytes = 0;

    void add(const TransferStats& more) {
        attempts += more.attempts;
        server = more.server.isEmpty() ? server : more.server;
        reusedBytes += more.reusedBytes;
    }
};

// What a download came to.
enum class TransferOutcome {
    kStored,            // the file is whole on disk (also when it was before)
    kBrokeOff,          // a raised failure ended it (detail: its message); what arrived stays
    kRefused,           // detail says why: a coded body, a refused redirect
    kStopped,           // a stop signal ended it; what arrived stays
    kWrongAnswer,       // a server's answer ended it (status)
    kNoSessionId,       // the download session id was refused
    kSessionIdNotSent,  // the session-id request could not be sent
    kNoSettings,        // no usable network settings
    kNoServer,          // every server was tried
    kOverBudget,        // the daily byte budget has no room for it; what arrived stays
};

struct TransferResult {
    explicit TransferResult(TransferOutcome outcome = TransferOutcome::kNoServer, int status = 0,
                            String detail = String())
        : outcome(outcome), status(status), detail(std::move(detail)) {}

    TransferOutcome outcome;
    int status;  // the last status a server answered this download with
    String detail;
    bool rebuilt = false;  // kStored by a delta
    bool resumed = false;  // bytes an earlier transfer left were kept
    TransferStats stats;
};

// One file download over the servers in turn: the download session id when
// plain, the resume point, the delta when the target has one (the full
// download taking over where it ends), the status and length checks,
// redirects, the transfer with pacing and progress, and what is kept of a
// broken-off transfer. A cut transfer or a busy server is tried again at
// the same server (TransferRetry); the file's deadline and the daily byte
// budget bound it. The policy holds what packages and firmware do
// differently.
class FileDownload {
public:
    FileDownload(ServerSession& session, DownloadPolicy& policy, const DownloadTarget& target);

    // servers: those a redirect named for this run (empty: the settings').
    TransferResult run(const Vector<String>& servers = Vector<String>());

private:
    TransferResult runOverServers(const Vector<String>& servers);
    // One server's turn; true when the download ends with it.
    bool attempt(ServerExchange& exchange, ServerCall& call);
    // One attempt of that turn.
    bool attemptOnce(ServerExchange& exchange, ServerCall& call);
    // Sleeps delay unless a stop signal comes: then the download ends.
    bool waitOrStop(Clock::Duration delay);
    bool deadlinePassed(ServerCall& call);
    // Whether the budget has room for a transfer of bytes (and its heads).
    bool withinBudget(const ServerCall& call, int64_t bytes, int requests = 1);
    int64_t onDisk() const;
    bool plain() const;
    bool plainUnderHttps(const NetworkSettings& settings, const String& url) const;
    // The session id into sessionId_; false when the download ended there.
    bool fetchSessionId(const NetworkSettings& settings, ServerCall& call);
    bool followRedirects(const ServerExchange& exchange, ServerCall& call);
    // The answer to a GET of origin (with the Range header range unless
    // "") once its redirects are followed; null when none came: the request
    // was not sent, or a refused redirect ended the download (ended).
    std::unique_ptr<HttpResponse> get(const ServerExchange& exchange, ServerCall& call,
                                      const String& origin, const String& range, bool& ended);
    bool request(const ServerExchange& exchange, ServerCall& call, const String& origin,
                 const String& at, int hop, const String& range, HttpResponse& response);
    static ConnectionKind connectionKind(bool plain, const String& origin, int hop,
                                         const String& url);
    static String serverEntry(const String& origin, int hop, const URL& url);
    void addHeaders(HttpRequest& request, const NetworkSettings& settings, bool identifying,
                    const String& range) const;
    // The delta, when the target has one: the download's end, or none when
    // the full download takes over.
    std::optional<bool> rebuild(const ServerExchange& exchange, ServerCall& call);
    bool rebuilt(ServerCall& call, int64_t fetchedBefore, const DeltaDownload& delta,
                 int32_t written);
    // Each of these is true when the download ends with the attempt.
    bool receive(ServerCall& call, HttpResponse& response);
    bool wrongAnswer(const WrongAnswer& answer);
    bool store(ServerCall& call, HttpResponse& response, int32_t from);
    int32_t transfer(const ServerCall& call, InputStream& body, FileOutputStream& file,
                     int32_t from);
    // What body writes from byte from on goes through the target's digest,
    // and the transfer given to it reports and paces; each report charges
    // what call has fetched to the byte budget.
    void write(const ServerCall& call, FileOutputStream& file, int32_t from, int timeoutMs,
               const std::function<void(OutputStream&, FileTransfer&)>& body);
    bool finish(int32_t received);
    bool end(TransferOutcome outcome, const String& detail = String());
    std::unique_ptr<FileOutputStream> openLocalFile(bool append) const;

    ServerSession& session_;
    DownloadPolicy& policy_;
    const DownloadTarget& target_;
    TransferResult result_;
    TransferStats stats_;
    int status_ = 0;
    // Of the current attempt: the download session id (plain only) and
    // where a partial answer continues (ResumeSource::kNone: none taken).
    String sessionId_;
    int32_t resumeFrom_ = 0;
    // A delta ended in the full download (it is not tried again).
    bool deltaOff_ = false;
    TransferDeadline deadline_;
    // Of the current attempt: a 503 or 429 came with this Retry-After.
    std::optional<String> retryAfter_;
};
