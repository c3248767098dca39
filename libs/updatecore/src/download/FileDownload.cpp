#include "download/FileDownload.h"

#include <fcntl.h>

#include "Exception.h"
#include "StopSignals.h"
#include "Utils.h"
#include "download/FileTransfer.h"
#include "download/RedirectChain.h"
#include "io/BufferedOutputStream.h"
#include "io/DirectoryHandle.h"
#include "io/File.h"
#include "io/FileOutputStream.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"
#include "report/Report.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "state/PartialFiles.h"
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

int FileDownload::run() {
    log("==" + decimalText(target_.id) + target_.name + target_.url + target_.localFile +
        decimalText(target_.size));
    NetworkSettings settings;
    if (!ConnectionFactory::readSettingsOrLog(settings)) {
        return policy_.noSettings;
    }
    ServerExchange exchange(state_, settings, policy_.exchange);
    return exchange.run([&](ServerCall& call) { return attempt(exchange, call); });
}

bool FileDownload::plain() const {
    return policy_.alwaysPlain || state_.plainDownload == 1;
}

Step FileDownload::attempt(ServerExchange& exchange, ServerCall& call) {
    if (target_.digest != nullptr) {
        target_.digest->discard();
    }
    call.onFailure([this] { keepPartial(); });
    String sessionId;
    Step session = fetchSessionId(exchange, call.host(), sessionId);
    if (session.ends) {
        return session;
    }
    bool done = false;
    int32_t resumeFrom = resumePoint(done);
    if (done) {
        return Step::end(kStored);  // only the digest check follows
    }
    if (policy_.partialRecord) {
        // Recorded before the first byte, so that a run killed at any
        // moment resumes.
        PartialFiles::begin(target_.id, target_.url, target_.localFile, target_.size);
    }
    bool http = plain() || ConnectionFactory::isHttp(exchange.settings());
    RedirectChain chain(downloadUrl(http, call.host(), target_.url));
    for (int hop = 0;; ++hop) {
        URL url(chain.current());
        HttpConnection* connection =
            call.open(connectionKind(hop, chain.current()), false, serverEntry(hop, url));
        if (connection == nullptr) {
            return Step::next();
        }
        HttpRequest request(url);
        addHeaders(request, exchange.settings(), sessionId,
                   RequestBuilder::isUpdateServer(url.getHost(), exchange.settings(),
                                                  state_.serverOverride),
                   resumeFrom);
        HttpResponse response;
        if (!call.send(connection, request, response)) {
            return Step::next();
        }
        if (policy_.numericCodes) {
            log("response code: " + decimalText(response.getStatus()));
        }
        if (!RedirectChain::isRedirect(response.getStatus())) {
            return receive(*connection, response, resumeFrom);
        }
        String location;
        response.getHeaders().getHeader("Location", location);
        if (!chain.follow(location)) {
            return refuse(chain.refusal());
        }
    }
}

// An absolute URL's scheme decides, the announced one's or a redirect's;
// --plain and the settings' type apply to the update servers' own paths.
int FileDownload::connectionKind(int hop, const String& url) const {
    if (hop > 0 || isAbsolute(target_.url)) {
        return url.toLowerCase().startsWith("https://") ? ConnectionFactory::kSecureConnection
                                                        : ConnectionFactory::kPlainConnection;
    }
    return plain() ? ConnectionFactory::kPlainConnection : ConnectionFactory::kDownloadConnection;
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
                              const String& sessionId, bool identifying, int32_t resumeFrom) {
    if (identifying) {
        RequestBuilder::addDownloadHeaders(request, settings, sessionId,
                                           static_cast<int32_t>(target_.id));
    } else {
        RequestBuilder::addTextHeader(request, "X-Lm-Content-Compression", "deflate");
    }
    request.getHeaders().setHeader("Accept-Encoding", "identity");
    if (resumeFrom > 0) {
        RequestBuilder::addTextHeader(request, "Range", "bytes=" + decimalText(resumeFrom) + "-");
    }
}

Step FileDownload::fetchSessionId(ServerExchange& exchange, const String& host, String& sessionId) {
    if (!plain()) {
        return Step::next();
    }
    Answer answer = exchange.fetchSessionId(host, target_.url, sessionId);
    if (answer == Answer::kBody) {
        if (policy_.numericCodes) {
            log("session ID: " + SystemLog::bodyExcerpt(sessionId));
        }
        return Step::next();
    }
    if (!policy_.numericCodes) {
        return Step::end(ResultCode::kFailed);
    }
    return Step::end(answer == Answer::kNotSent ? ResultCode::kFirmwareNoConnection
                                                : ResultCode::kFirmwareNoSessionId);
}

int32_t FileDownload::resumePoint(bool& done) {
    if (policy_.partialRecord) {
        return PartialFiles::resumePoint(target_.id, target_.url, target_.localFile, target_.size);
    }
    int64_t have = File(target_.localFile).length();
    bool recorded = PartialFiles::consume(target_.id, have);
    done = have > 0 && have == target_.size;
    if (have > 0) {
        return static_cast<int32_t>(have);
    }
    return recorded ? 0 : PartialFiles::kNone;
}

// resumeFrom: the bytes on disk when a 206 answer may be taken, else -1.
// Without a Content-Length the body runs to the end of the stream or the
// announced size; the size and digest checks decide.
Step FileDownload::receive(HttpConnection& connection, HttpResponse& response, int32_t resumeFrom) {
    int status = response.getStatus();
    bool partial = status == 206 && resumeFrom >= 0;
    if (status != 200 && !partial) {
        return refuseStatus(status);
    }
    if (response.isContentCoded()) {
        return refuse("content-coded (" + response.getContentEncoding() + ")");
    }
    int32_t from = partial ? resumeFrom : 0;
    if (partial) {
        log("enter partial download!!!");
    }
    long length = response.getContentLength();
    if (length >= 0 && length + from != target_.size) {
        return refuseLength(!partial);
    }
    return store(connection, response, from);
}

Step FileDownload::refuse(const String& reason) {
    refusal_ = reason;
    return Step::end(policy_.numericCodes ? ResultCode::kFirmwareProtocol : kRefused);
}

Step FileDownload::refuseStatus(int status) {
    if (policy_.numericCodes) {
        return Step::end(status == 401   ? ResultCode::kFirmwareUnauthorized
                         : status == 404 ? ResultCode::kFirmwareNotFound
                                         : ResultCode::kFirmwareProtocol);
    }
    log("Download '" + target_.name + (status == 401 ? "' unauthorized" : "' not found"));
    log("Download '" + target_.name + "' failed with code " + decimalText(status));
    return Step::next();
}

// whole: the answer to a request for the whole file.
Step FileDownload::refuseLength(bool whole) {
    if (!policy_.numericCodes) {
        log("LmUpdate: invalid file length in response");
        return Step::next();
    }
    if (whole) {
        log("LmUpdate: size don't match");
    }
    return Step::end(ResultCode::kFirmwareProtocol);
}

Step FileDownload::store(HttpConnection& connection, HttpResponse& response, int32_t from) {
    log(FileTransfer::downloadLine(target_.name, from, target_.size));
    std::unique_ptr<FileOutputStream> file = openLocalFile(from > 0);
    InputStream* body = response.getBody();
    if (body == nullptr) {
        return Step::next();
    }
    if (target_.digest != nullptr) {
        target_.digest->start(target_.localFile, from);
    }
    // The pieces go to the file in large writes; whatever way this ends, the
    // buffer's destructor leaves on disk all that was received.
    BufferedOutputStream buffered(*file);
    DigestingOutputStream out(buffered, target_.digest);
    if (from > 0) {
        policy_.reportProgress(from, target_.size);
    } else {
        policy_.reportStart(target_.size);
    }
    FileTransfer transfer(state_.throttleKB, state_.pauseSeconds, connection.getTimeout());
    int32_t size = target_.size;
    int32_t received = transfer.run(*body, out, from, size, target_.name, [&](int32_t done) {
        buffered.flush();  // the report's count is on disk
        policy_.reportProgress(done, size);
    });
    out.close();
    connection.close();
    if (received != size && StopSignals::requested()) {
        log("LmUpdate: download stopped by signal " + decimalText(StopSignals::signalNumber()) +
            ": " + target_.url);
        keepPartial();
        return Step::end(kStopped);
    }
    if (received != size) {
        throw IOException("file size is incorrect", "FileDownload", __LINE__);
    }
    if (policy_.partialRecord) {
        PartialFiles::drop(target_.id);
    }
    return Step::end(kStored);
}

std::unique_ptr<FileOutputStream> FileDownload::openLocalFile(bool append) const {
    int flags = append ? O_APPEND : O_CREAT | O_TRUNC;
    FileDescriptor fd = target_.directory->openForWriting(File(target_.localFile).getName(), flags);
    return std::make_unique<FileOutputStream>(fd.release());
}

void FileDownload::keepPartial() const {
    if (policy_.partialRecord) {
        PartialFiles::keep(target_.id, target_.url, target_.localFile, target_.size);
    }
}
