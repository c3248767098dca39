#include "FileDownload.h"

#include "ConnectionFactory.h"
#include "CoreHelpers.h"
#include "Exception.h"
#include "FileTransfer.h"
#include "PartialFiles.h"
#include "RequestBuilder.h"
#include "io/File.h"
#include "io/FileOutputStream.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/URL.h"

namespace {

String downloadUrl(bool plain, const String& host, const String& url) {
    if (url.startsWith("http")) {
        return url;
    }
    return String(plain ? "http" : "https") + "://" + host + "/lm-download?path=" + url;
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
    if (policy_.partialRecord) {
        call.onFailure([this] {
            PartialFiles::keep(target_.id, target_.url, target_.localFile, target_.size);
        });
    }
    String sessionId;
    Step session = fetchSessionId(exchange, call.host(), sessionId);
    if (session.ends) {
        return session;
    }
    int kind =
        plain() ? ConnectionFactory::kPlainConnection : ConnectionFactory::kDownloadConnection;
    HttpConnection* connection = call.open(kind, false);
    if (connection == nullptr) {
        return Step::next();
    }
    HttpRequest request(URL(downloadUrl(plain(), call.host(), target_.url)));
    RequestBuilder::addDownloadHeaders(request, exchange.settings(), sessionId,
                                       static_cast<int32_t>(target_.id));
    bool done = false;
    int32_t resumeFrom = resumePoint(done);
    if (done) {
        return Step::end(kStored);  // only the digest check follows
    }
    if (resumeFrom > 0) {
        RequestBuilder::addTextHeader(request, "Range", "bytes=" + decimalText(resumeFrom) + "-");
    }
    HttpResponse response;
    if (!call.send(connection, request, response)) {
        return Step::next();
    }
    if (policy_.numericCodes) {
        log("response code: " + decimalText(response.getStatus()));
    }
    return receive(*connection, response, resumeFrom);
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
    long have = File(target_.localFile).length();
    bool recorded = PartialFiles::consume(target_.id, have);
    done = have > 0 && have == target_.size;
    if (have > 0) {
        return static_cast<int32_t>(have);
    }
    return recorded ? 0 : PartialFiles::kNone;
}

// resumeFrom: the bytes on disk when a 206 answer may be taken, else -1.
Step FileDownload::receive(HttpConnection& connection, HttpResponse& response, int32_t resumeFrom) {
    int status = response.getStatus();
    if (status == 200) {
        if (response.getContentLength() != target_.size) {
            return refuseLength(true);
        }
        return store(connection, response, 0);
    }
    if (status == 206 && resumeFrom >= 0) {
        log("enter partial download!!!");
        if (static_cast<long>(response.getContentLength()) + resumeFrom != target_.size) {
            return refuseLength(false);
        }
        return store(connection, response, resumeFrom);
    }
    return refuseStatus(status);
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
    FileOutputStream out(target_.localFile,
                         from > 0 ? FileOutputStream::kAppend : FileOutputStream::kTruncate);
    InputStream* body = response.getBody();
    if (body == nullptr) {
        return Step::next();
    }
    if (from > 0) {
        policy_.reportProgress(from, target_.size);
    } else {
        policy_.reportStart(target_.size);
    }
    FileTransfer transfer(state_.throttleKB, state_.pauseSeconds, connection.getTimeout());
    int32_t size = target_.size;
    int32_t received = transfer.run(*body, out, from, size, target_.name,
                                    [&](int32_t done) { policy_.reportProgress(done, size); });
    out.close();
    connection.close();
    if (received != size) {
        throw IOException("file size is incorrect", "FileDownload", __LINE__);
    }
    return Step::end(kStored);
}
