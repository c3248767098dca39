#include "download/FileDownload.h"

#include <fcntl.h>

#include "Exception.h"
#include "StopSignals.h"
#include "Utils.h"
#include "download/DeltaDownload.h"
#include "download/FileTransfer.h"
#include "download/RedirectChain.h"
#include "download/ResumeSource.h"
#include "download/TransferRetry.h"
#include "io/BufferedOutputStream.h"
#include "io/DirectoryHandle.h"
#include "io/File.h"
#include "io/FileOutputStream.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"
#include "report/Report.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"
#include "session/ServerSession.h"
#include "trust/StreamingDigest.h"

namespace {

// What the budget allows for an answer's head beside its body.
constexpr int64_t kHeadAllowance = 4096;

bool isAbsolute(const String& url) {
    String lower = url.toLowerCase();
    return lower.startsWith("http://") || lower.startsWith("https://");
}

// http: the connection is plain, so the URL says so too (a redirect's
// relative Location is resolved against it).
String downloadUrl(bool http, const String& host, const String& url) {
    if (isAbsolute(url)) {
        return url;
    }
    return String(http ? "http" : "https") + "://" + host + "/lm-download?path=" + url;
}

}  // namespace

FileDownload::FileDownload(ServerSession& session, DownloadPolicy& policy,
                           const DownloadTarget& target)
    : session_(session),
      policy_(policy),
      target_(target),
      deadline_(target.size, Clock::process()) {}

TransferResult FileDownload::run(const Vector<String>& servers) {
    TransferResult result = runOverServers(servers);
    result.stats = stats_;
    return result;
}

TransferResult FileDownload::runOverServers(const Vector<String>& servers) {
    log("==" + decimalText(target_.id) + target_.name + URL::masked(target_.url) +
        target_.localFile + decimalText(target_.size));
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        return TransferResult(TransferOutcome::kNoSettings);
    }
    if (plainUnderHttps(settings, target_.url)) {
        warn("LmUpdate: warning: package over plain HTTP: " + URL::masked(target_.url));
    }
    ServerExchange exchange(session_, settings, policy_.exchange(), servers);
    switch (exchange.run([&](ServerCall& call) { return attempt(exchange, call); })) {
        case ServerExchange::End::kAnswered:
            return result_;
        case ServerExchange::End::kFailed:
            end(TransferOutcome::kBrokeOff, exchange.failure());
            return result_;
        case ServerExchange::End::kExhausted:
            break;
    }
    return TransferResult(TransferOutcome::kNoServer, status_);
}

bool FileDownload::plain() const {
    return policy_.plain(session_.options());
}

// A package the answer names by an http:// URL under https settings still
// downloads (the digests of the verified answer protect it), but what
// identifies the appliance stays off the plain connection. --plain and
// firmware are plain throughout.
bool FileDownload::plainUnderHttps(const NetworkSettings& settings, const String& url) const {
    return !plain() && !ConnectionFactory::isHttp(settings) &&
           url.toLowerCase().startsWith("http://");
}

bool FileDownload::attempt(ServerExchange& exchange, ServerCall& call) {
    TransferRetry retry(session_.backoff(), target_.url);
    for (;;) {
        if (deadline_.passed()) {
            return deadlinePassed(call);
        }
        int64_t before = onDisk();
        retryAfter_.reset();
        try {
            bool ended = false;
            {
                TransferDeadline::Running counting(deadline_);
                ended = attemptOnce(exchange, call);
            }
            if (!retryAfter_) {
                return ended;
            }
            call.close();
            std::optional<Clock::Duration> delay = retry.afterBusy(status_, *retryAfter_);
            if (!delay) {
                return wrongAnswer({status_, false, true});
            }
            if (!waitOrStop(*delay)) {
                return true;
            }
        } catch (const DeadlineException&) {
            return deadlinePassed(call);
        } catch (const Exception& e) {
            std::optional<Clock::Duration> delay;
            if (TransferRetry::isCut(e.getMessage())) {
                delay = retry.afterCut(e.getMessage(), onDisk() > before);
            }
            if (!delay) {
                throw;
            }
            call.abandon();
            if (!waitOrStop(*delay)) {
                return true;
            }
        }
    }
}

bool FileDownload::attemptOnce(ServerExchange& exchange, ServerCall& call) {
    if (target_.digest != nullptr) {
        target_.digest->discard();
    }
    call.onFailure([this] { policy_.resume().brokeOff(target_); });
    ++stats_.attempts;
    stats_.server = call.host();
    sessionId_ = String();
    if (plain() && !fetchSessionId(exchange.settings(), call)) {
        return true;
    }
    bool whole = false;
    resumeFrom_ = policy_.resume().resumePoint(target_, whole);
    result_.resumed = result_.resumed || whole || resumeFrom_ > 0;
    if (whole) {
        return finish(target_.size);  // only the file checks follow
    }
    policy_.resume().starting(target_);
    if (target_.delta != nullptr && !deltaOff_) {
        if (std::optional<bool> ended = rebuild(exchange, call)) {
            return *ended;
        }
    }
    return followRedirects(exchange, call);
}

bool FileDownload::waitOrStop(Clock::Duration delay) {
    if (Backoff::wait(Clock::process(), delay)) {
        return true;
    }
    finish(static_cast<int32_t>(std::max<int64_t>(onDisk(), 0)));
    return false;
}

// What arrived stays for a later run.
bool FileDownload::deadlinePassed(ServerCall& call) {
    call.abandon();
    logError("LmUpdate: download deadline passed: " + URL::masked(target_.url));
    return end(TransferOutcome::kBrokeOff, "EC_READ_TIMEOUT: download deadline passed");
}

bool FileDownload::withinBudget(const ServerCall& call, int64_t bytes, int requests) {
    return session_.budgetAllows(call.bytesFetched(), bytes + requests * kHeadAllowance);
}

int64_t FileDownload::onDisk() const {
    return File(target_.localFile).length();
}

bool FileDownload::followRedirects(const ServerExchange& exchange, ServerCall& call) {
    if (!withinBudget(call, target_.size - std::max(resumeFrom_, 0))) {
        return end(TransferOutcome::kOverBudget);
    }
    String range = resumeFrom_ > 0 ? "bytes=" + decimalText(resumeFrom_) + "-" : String();
    bool ended = false;
    std::unique_ptr<HttpResponse> response = get(exchange, call, target_.url, range, ended);
    return response != nullptr ? receive(call, *response) : ended;
}

std::unique_ptr<HttpResponse> FileDownload::get(const ServerExchange& exchange, ServerCall& call,
                                                const String& origin, const String& range,
                                                bool& ended) {
    bool http = plain() || ConnectionFactory::isHttp(exchange.settings());
    RedirectChain chain(downloadUrl(http, call.host(), origin));
    for (int hop = 0;; ++hop) {
        auto response = std::make_unique<HttpResponse>();
        if (!request(exchange, call, origin, chain.current(), hop, range, *response)) {
            return nullptr;
        }
        if (!RedirectChain::isRedirect(status_)) {
            return response;
        }
        String location;
        response->getHeaders().getHeader("Location", location);
        if (!chain.follow(location)) {
            ended = end(TransferOutcome::kRefused, chain.refusal());
            return nullptr;
        }
    }
}

// One hop's request over a connection of its own; false when none could
// be made or the request did not go out.
bool FileDownload::request(const ServerExchange& exchange, ServerCall& call, const String& origin,
                           const String& at, int hop, const String& range, HttpResponse& response) {
    URL url(at);
    if (!call.open(connectionKind(plain(), origin, hop, at), false,
                   serverEntry(origin, hop, url))) {
        return false;
    }
    HttpRequest request(url);
    bool identifying =
        RequestBuilder::isUpdateServer(url.getHost(), exchange.settings(), exchange.servers()) &&
        !plainUnderHttps(exchange.settings(), at);
    addHeaders(request, exchange.settings(), identifying, range);
    if (!call.send(request, response)) {
        return false;
    }
    status_ = response.getStatus();
    policy_.answered(status_);
    return true;
}

// An absolute URL's scheme decides, the announced one's or a redirect's;
// --plain and the settings' type apply to the update servers' own paths.
ConnectionKind FileDownload::connectionKind(bool plain, const String& origin, int hop,
                                            const String& url) {
    if (hop > 0 || isAbsolute(origin)) {
        return url.toLowerCase().startsWith("https://") ? ConnectionKind::kSecure
                                                        : ConnectionKind::kPlain;
    }
    return plain ? ConnectionKind::kPlain : ConnectionKind::kDownload;
}

// The server a certificate failure names: the configured entry for the
// update servers' own paths, else the host the URL leads to.
String FileDownload::serverEntry(const String& origin, int hop, const URL& url) {
    if (hop == 0 && !isAbsolute(origin)) {
        return String();
    }
    return url.getHostText() + ":" + decimalText(url.getPort());
}

// identifying: the server's own headers go along (not to another host a
// redirect led to). The stored bytes must be the announced ones, so no
// content coding is asked for.
void FileDownload::addHeaders(HttpRequest& request, const NetworkSettings& settings,
                              bool identifying, const String& range) const {
    if (identifying) {
        RequestBuilder::addDownloadHeaders(request, settings, sessionId_, target_.id);
    } else {
        RequestBuilder::addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    }
    request.getHeaders().setHeader("Accept-Encoding", "identity");
    if (!range.isEmpty()) {
        RequestBuilder::addTextHeader(request, "Range", range);
    }
}

bool FileDownload::fetchSessionId(const NetworkSettings& settings, ServerCall& call) {
    Answer answer = Answer::kNotSent;
    if (call.open(ConnectionKind::kSession, false)) {
        HttpRequest request(
            URL(ConnectionFactory::sessionUrl(settings, call.host(), "/lm-sessionid")));
        RequestBuilder::addTextHeader(request, "X-Lm-Update-Protocol-Version", "1.0");
        RequestBuilder::addTextHeader(request, "X-Lm-Update-URL", target_.url);
        RequestBuilder::addTextHeader(request, "X-Lm-Update-MAC", settings.mac);
        answer = call.fetchSessionId(request, sessionId_);
    }
    if (answer == Answer::kBody) {
        policy_.sessionIdReceived(sessionId_);
        return true;
    }
    end(answer == Answer::kNotSent ? TransferOutcome::kSessionIdNotSent
                                   : TransferOutcome::kNoSessionId);
    return false;
}

// A 206 answer is taken when the resume point allows one. Without a
// Content-Length the body runs to the end of the stream or the announced
// size; the size and digest checks decide.
bool FileDownload::receive(ServerCall& call, HttpResponse& response) {
    bool partial = status_ == 206 && resumeFrom_ >= 0;
    String retryAfter;
    if ((status_ == 503 || status_ == 429) &&
        response.getHeaders().getHeader("Retry-After", retryAfter)) {
        retryAfter_ = retryAfter;  // the turn decides whether to wait
        return false;
    }
    if (status_ != 200 && !partial) {
        return wrongAnswer({status_, false, true});
    }
    if (response.isContentCoded()) {
        return end(TransferOutcome::kRefused,
                   "content-coded (" + response.getContentEncoding() + ")");
    }
    int32_t from = partial ? resumeFrom_ : 0;
    if (partial) {
        log("enter partial download!!!");
    }
    long length = response.getContentLength();
    if (length >= 0 && length + from != target_.size) {
        return wrongAnswer({status_, true, !partial});
    }
    return store(call, response, from);
}

bool FileDownload::wrongAnswer(const WrongAnswer& answer) {
    if (policy_.nextServerAfter(answer)) {
        return false;
    }
    return end(TransferOutcome::kWrongAnswer);
}

bool FileDownload::end(TransferOutcome outcome, const String& detail) {
    bool resumed = result_.resumed;
    result_ = TransferResult(outcome, status_, detail);
    result_.resumed = resumed;
    return true;
}

bool FileDownload::store(ServerCall& call, HttpResponse& response, int32_t from) {
    log(FileTransfer::downloadLine(target_.name, from, target_.size));
    std::unique_ptr<FileOutputStream> file = openLocalFile(from > 0);
    InputStream* body = response.getBody();
    if (body == nullptr) {
        return false;
    }
    int32_t received = transfer(call, *body, *file, from);
    call.close();
    return finish(received);
}

// The body into the file from byte from on; the byte count on disk then.
int32_t FileDownload::transfer(const ServerCall& call, InputStream& body, FileOutputStream& file,
                               int32_t from) {
    int32_t received = from;
    write(call, file, from, call.timeoutMs(), [&](OutputStream& out, FileTransfer& transfer) {
        received = transfer.copy(body, out, from, target_.size);
    });
    return received;
}

void FileDownload::write(const ServerCall& call, FileOutputStream& file, int32_t from,
                         int timeoutMs,
                         const std::function<void(OutputStream&, FileTransfer&)>& body) {
    if (target_.digest != nullptr) {
        target_.digest->start(target_.localFile, from);
    }
    // The pieces go to the file in large writes; whatever way this ends, the
    // buffer's destructor leaves on disk all that was received.
    BufferedOutputStream buffered(file);
    DigestingOutputStream out(buffered, target_.digest);
    if (from > 0) {
        policy_.progressed(from, target_.size);
    } else {
        policy_.started(target_.size);
    }
    const DownloadOptions& options = session_.options();
    FileTransfer transfer(options.throttleKB, options.pauseSeconds, timeoutMs);
    transfer.watch(deadline_);
    int32_t size = target_.size;
    transfer.start(size, target_.name, [&](int32_t done) {
        buffered.flush();  // the report's count is on disk
        policy_.progressed(done, size);
        session_.budget().charge(call.bytesFetched(), std::time(nullptr));  // a kill keeps it
    });
    body(out, transfer);
    out.close();
}

std::optional<bool> FileDownload::rebuild(const ServerExchange& exchange, ServerCall& call) {
    int64_t fetchedBefore = call.bytesFetched();
    int32_t from = std::max(resumeFrom_, 0);
    bool ended = false;
    DeltaDownload delta(
        *target_.delta, target_,
        [&](const String& url, const String& range) {
            return get(exchange, call, url, range, ended);
        },
        [&](int64_t bytes, int requests) { return withinBudget(call, bytes, requests); });
    DeltaDownload::End end = DeltaDownload::End::kNoAnswer;
    std::unique_ptr<FileOutputStream> file = openLocalFile(from > 0);
    // The requests open their connections as the delta goes.
    int timeoutMs = ConnectionFactory::timeoutMs(exchange.settings());
    write(call, *file, from, timeoutMs,
          [&](OutputStream& out, FileTransfer& transfer) { end = delta.run(from, out, transfer); });
    auto written = static_cast<int32_t>(File(target_.localFile).length());
    switch (end) {
        case DeltaDownload::End::kRebuilt:
            return rebuilt(call, fetchedBefore, delta, written);
        case DeltaDownload::End::kStopped:
            return finish(written);
        case DeltaDownload::End::kNoAnswer:
            return ended;
        case DeltaDownload::End::kOverBudget:
            return this->end(TransferOutcome::kOverBudget);
        case DeltaDownload::End::kWholeAnswer:
            deltaOff_ = true;
            logWarning("LmUpdate: delta " + URL::masked(target_.url) +
                       ": the server sent the whole file");
            return receive(call, *delta.takeWholeAnswer());
        case DeltaDownload::End::kFallback:
            break;
    }
    deltaOff_ = true;
    resumeFrom_ = written;
    logWarning("LmUpdate: delta " + URL::masked(target_.url) + ": " + delta.reason() +
               ": downloading the rest whole after " +
               decimalText(call.bytesFetched() - fetchedBefore) + " bytes fetched");
    return std::nullopt;
}

bool FileDownload::rebuilt(ServerCall& call, int64_t fetchedBefore, const DeltaDownload& delta,
                           int32_t written) {
    call.close();
    logWarning("LmUpdate: delta " + URL::masked(target_.url) + ": " +
               decimalText(call.bytesFetched() - fetchedBefore) + " bytes fetched, " +
               decimalText(delta.seedBytes()) + " from the seed, " + decimalText(delta.requests()) +
               " requests");
    stats_.reusedBytes += delta.seedBytes();
    bool ended = finish(written);
    result_.rebuilt = true;
    return ended;
}

bool FileDownload::finish(int32_t received) {
    if (received != target_.size && StopSignals::requested()) {
        logWarning("LmUpdate: download stopped by signal " +
                   decimalText(StopSignals::signalNumber()) + ": " + URL::masked(target_.url));
        policy_.resume().brokeOff(target_);
        return end(TransferOutcome::kStopped);
    }
    if (received != target_.size) {
        throw IOException("file size is incorrect", "FileDownload", __LINE__);
    }
    // Once, not per block: the file and its name must be on disk before
    // the record that would resume it goes and before it counts as whole.
    target_.directory->syncFile(File(target_.localFile).getName());
    target_.directory->sync();
    policy_.resume().completed(target_);
    return end(TransferOutcome::kStored);
}

std::unique_ptr<FileOutputStream> FileDownload::openLocalFile(bool append) const {
    int flags = append ? O_APPEND : O_CREAT | O_TRUNC;
    FileDescriptor fd = target_.directory->openForWriting(File(target_.localFile).getName(), flags);
    return std::make_unique<FileOutputStream>(fd.release());
}
