#include "download/FileDownload.h"

#include <fcntl.h>

#include "Exception.h"
#include "StopSignals.h"
#include "Utils.h"
#include "download/FileTransfer.h"
#include "download/RedirectChain.h"
#include "download/ResumeSource.h"
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

TransferResult FileDownload::run(const Vector<String>& servers) {
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
            return TransferResult(TransferOutcome::kBrokeOff, status_, exchange.failure());
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
    if (target_.digest != nullptr) {
        target_.digest->discard();
    }
    call.onFailure([this] { policy_.resume().brokeOff(target_); });
    sessionId_ = String();
    if (plain() && !fetchSessionId(exchange.settings(), call)) {
        return true;
    }
    bool whole = false;
    resumeFrom_ = policy_.resume().resumePoint(target_, whole);
    if (whole) {
        return end(TransferOutcome::kStored);  // only the file checks follow
    }
    policy_.resume().starting(target_);
    return followRedirects(exchange, call);
}

bool FileDownload::followRedirects(const ServerExchange& exchange, ServerCall& call) {
    bool http = plain() || ConnectionFactory::isHttp(exchange.settings());
    RedirectChain chain(downloadUrl(http, call.host(), target_.url));
    for (int hop = 0;; ++hop) {
        HttpResponse response;
        if (!request(exchange, call, chain.current(), hop, response)) {
            return false;
        }
        if (!RedirectChain::isRedirect(status_)) {
            return receive(call, response);
        }
        String location;
        response.getHeaders().getHeader("Location", location);
        if (!chain.follow(location)) {
            return end(TransferOutcome::kRefused, chain.refusal());
        }
    }
}

// One hop's request over a connection of its own; false when none could
// be made or the request did not go out.
bool FileDownload::request(const ServerExchange& exchange, ServerCall& call, const String& at,
                           int hop, HttpResponse& response) {
    URL url(at);
    if (!call.open(connectionKind(hop, at), false, serverEntry(hop, url))) {
        return false;
    }
    HttpRequest request(url);
    bool identifying =
        RequestBuilder::isUpdateServer(url.getHost(), exchange.settings(), exchange.servers()) &&
        !plainUnderHttps(exchange.settings(), at);
    addHeaders(request, exchange.settings(), identifying);
    if (!call.send(request, response)) {
        return false;
    }
    status_ = response.getStatus();
    policy_.answered(status_);
    return true;
}

// An absolute URL's scheme decides, the announced one's or a redirect's;
// --plain and the settings' type apply to the update servers' own paths.
ConnectionKind FileDownload::connectionKind(int hop, const String& url) const {
    if (hop > 0 || isAbsolute(target_.url)) {
        return url.toLowerCase().startsWith("https://") ? ConnectionKind::kSecure
                                                        : ConnectionKind::kPlain;
    }
    return plain() ? ConnectionKind::kPlain : ConnectionKind::kDownload;
}

// The server a certificate failure names: the configured entry for the
// update servers' own paths, else the host the URL leads to.
String FileDownload::serverEntry(int hop, const URL& url) const {
    if (hop == 0 && !isAbsolute(target_.url)) {
        return String();
    }
    return url.getHostText() + ":" + decimalText(url.getPort());
}

// identifying: the server's own headers go along (not to another host a
// redirect led to). The stored bytes must be the announced ones, so no
// content coding is asked for.
void FileDownload::addHeaders(HttpRequest& request, const NetworkSettings& settings,
                              bool identifying) const {
    if (identifying) {
        RequestBuilder::addDownloadHeaders(request, settings, sessionId_, target_.id);
    } else {
        RequestBuilder::addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    }
    request.getHeaders().setHeader("Accept-Encoding", "identity");
    if (resumeFrom_ > 0) {
        RequestBuilder::addTextHeader(request, "Range", "bytes=" + decimalText(resumeFrom_) + "-");
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
    result_ = TransferResult(outcome, status_, detail);
    return true;
}

bool FileDownload::store(ServerCall& call, HttpResponse& response, int32_t from) {
    log(FileTransfer::downloadLine(target_.name, from, target_.size));
    std::unique_ptr<FileOutputStream> file = openLocalFile(from > 0);
    InputStream* body = response.getBody();
    if (body == nullptr) {
        return false;
    }
    int32_t received = transfer(*body, *file, from, call.timeoutMs());
    call.close();
    return finish(received);
}

// The body into the file from byte from on; the byte count on disk then.
int32_t FileDownload::transfer(InputStream& body, FileOutputStream& file, int32_t from,
                               int timeoutMs) {
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
    int32_t size = target_.size;
    int32_t received = transfer.run(body, out, from, size, target_.name, [&](int32_t done) {
        buffered.flush();  // the report's count is on disk
        policy_.progressed(done, size);
    });
    out.close();
    return received;
}

bool FileDownload::finish(int32_t received) {
    if (received != target_.size && StopSignals::requested()) {
        log("LmUpdate: download stopped by signal " + decimalText(StopSignals::signalNumber()) +
            ": " + URL::masked(target_.url));
        policy_.resume().brokeOff(target_);
        return end(TransferOutcome::kStopped);
    }
    if (received != target_.size) {
        throw IOException("file size is incorrect", "FileDownload", __LINE__);
    }
    policy_.resume().completed(target_);
    return end(TransferOutcome::kStored);
}

std::unique_ptr<FileOutputStream> FileDownload::openLocalFile(bool append) const {
    int flags = append ? O_APPEND : O_CREAT | O_TRUNC;
    FileDescriptor fd = target_.directory->openForWriting(File(target_.localFile).getName(), flags);
    return std::make_unique<FileOutputStream>(fd.release());
}
