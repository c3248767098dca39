// The firmware part of LmUpdateClient and the firmware action.
#include "FirmwareSession.h"

#include <unistd.h>

#include <memory>

#include "CoreHelpers.h"
#include "Exception.h"
#include "InstallRoot.h"
#include "LmUpdateClient.h"
#include "LmUpdateParser.h"
#include "LmUpdateStore.h"
#include "ProgressReporter.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "io/FileOutputStream.h"
#include "net/HttpConnection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"
#include "net/SocketInputStream.h"
#include "net/URL.h"

namespace {

void log(const String& line) {
    SystemLog::write(line);
}

// The partial-files record of id, if any, dropped when the local file
// already holds data. True when a record was found.
bool consumePartialRecord(long id, int64_t localLength) {
    if (!File(installPath(kPartialFilesFile)).exists()) {
        return false;
    }
    LmUpdateStore store;
    try {
        store.load(installPath(kPartialFilesFile));
    } catch (const Exception&) {
        return false;
    }
    LmPartialFileInfo record;
    if (!store.getPartialFile(static_cast<int32_t>(id), record)) {
        return false;
    }
    if (localLength > 0) {
        store.removePartialFile(static_cast<int32_t>(id));
    }
    return true;
}

// 0 for a body, -9 when the request did not go out, else refused.
int firmwareCode(LmUpdateClient::Answer answer, int refused) {
    switch (answer) {
        case LmUpdateClient::Answer::kBody:
            return 0;
        case LmUpdateClient::Answer::kNotSent:
            return -9;
        case LmUpdateClient::Answer::kBadStatus:
        case LmUpdateClient::Answer::kNoBody:
            break;
    }
    return refused;
}

// A firmware package whose version text is version (ignoring case).
LmPackageInfo* findVersion(Vector<LmPackageInfo>& packages, const String& version) {
    for (LmPackageInfo& package : packages) {
        if (package.version.version.equalsIgnoreCase(version)) {
            return &package;
        }
    }
    return nullptr;
}

// One server's attempt at a firmware file: the download session id first,
// then the file itself over plain HTTP, resumed from what is on disk.
struct FirmwareDownload {
    static constexpr int kNextServer = 1;

    LmUpdateClient& client;
    const NetworkSettings& settings;
    const String& host;
    long id;
    const String& name;
    const String& url;
    const String& localFile;
    int32_t size;
    const String& version;
    int httpStatus = -1;  // of the file response, -1 before any

    int run() {
        String sessionId;
        int fetched = fetchSessionId(sessionId);
        return fetched != 0 ? fetched : fetchFile(sessionId);
    }

    int fetchSessionId(String& sessionId) {
        int code = firmwareCode(client.fetchSessionId(settings, host, url, sessionId), -15);
        if (code == 0) {
            log("session ID: " + sessionId);
        }
        return code;
    }

    HttpRequest fileRequest(const String& sessionId) {
        String target =
            url.startsWith("http") ? url : "http://" + host + "/lm-download?path=" + url;
        HttpRequest request{URL(target)};
        client.addDownloadHeaders(request, settings, sessionId, static_cast<int32_t>(id));
        return request;
    }

    int fetchFile(const String& sessionId) {
        std::unique_ptr<HttpConnection> connection =
            client.openConnection(LmUpdateClient::kPlainConnection);
        if (!connection) {
            return kNextServer;
        }
        connection->setKeepAlive(false);
        HttpRequest request = fileRequest(sessionId);
        int64_t have = File(localFile).length();
        bool recorded = consumePartialRecord(id, have);
        if (have > 0) {
            if (have == size) {
                return 0;  // already complete: only the digest check follows
            }
            request.getHeaders().setHeader("Range", "bytes=" + decimalText(have) + "-");
        }
        int32_t resumeFrom = have > 0 ? static_cast<int32_t>(have) : recorded ? 0 : -1;
        HttpResponse response;
        if (!connection->sendAndReceive(request, response)) {
            return kNextServer;
        }
        LmUpdateClient::logExchange(request, response);
        httpStatus = response.getStatus();
        log("response code: " + decimalText(httpStatus));
        return receive(*connection, response, resumeFrom);
    }

    // resumeFrom: the bytes on disk when a 206 answer may be taken, else -1.
    int receive(HttpConnection& connection, HttpResponse& response, int32_t resumeFrom) {
        int status = response.getStatus();
        int32_t from = 0;
        if (status == 200) {
            if (response.getContentLength() != size) {
                log("LmUpdate: size don't match");
                return -5;
            }
        } else if (status == 206 && resumeFrom >= 0) {
            log("enter partial download!!!");
            if (static_cast<int64_t>(response.getContentLength()) + resumeFrom != size) {
                return -5;
            }
            from = resumeFrom;
        } else {
            return status == 401 ? -8 : status == 404 ? -17 : -5;
        }
        log("Download " + name + " (" + decimalText(from) + " of " + decimalText(size) + ")");
        FileOutputStream out(localFile,
                             from == 0 ? FileOutputStream::kTruncate : FileOutputStream::kAppend);
        if (response.getBody() == nullptr) {
            return kNextServer;
        }
        transfer(response, out, from);
        connection.close();
        return 0;
    }

    void transfer(HttpResponse& response, FileOutputStream& out, int32_t from) {
        long pid = static_cast<long>(getpid());
        if (from == 0) {
            ProgressReporter::reportFirmwareStart(pid, size, version);
        } else {
            ProgressReporter::reportFirmwareProgress(pid, from, size, version);
        }
        int32_t received =
            client.transferBody(*response.getBody(), out, from, size, name, [&](int32_t bytes) {
                ProgressReporter::reportFirmwareProgress(pid, bytes, size, version);
            });
        out.close();
        if (received != size) {
            throw IOException("file size is incorrect", "FirmwareSession", __LINE__);
        }
    }
};

// 0 when a 200 answer came, after writing its body verbatim to standard
// output; else as firmwareCode.
int takeFirmwareAnswer(LmUpdateClient::Answer answer, const String& body) {
    int code = firmwareCode(answer, -5);
    if (code == 0) {
        writeToStandardOutput(body);
    }
    return code;
}

}  // namespace

int LmUpdateClient::requestFirmwareUpdate(int32_t productId) {
    NetworkSettings settings;
    if (!readSettings(settings)) {
        return -2;
    }
    Vector<String> servers = serversToTry(settings);
    if (servers.isEmpty()) {
        return -2;
    }
    // Only the first server is asked for firmware.
    const String& host = servers[0];
    std::unique_ptr<HttpConnection> connection;
    try {
        connection = openConnection(kSessionConnection);
        if (!connection) {
            return -2;
        }
        HttpRequest request(URL(sessionUrl(settings, host, "/lm-firmware-update")));
        if (!setDocumentRequest(request, productId, "X-Lm-Update-Protocol-Version", settings)) {
            return -2;
        }
        String body;
        Answer answer = exchangeForAnswer(connection.get(), request, host, body);
        return takeFirmwareAnswer(answer, body);
    } catch (const Exception& e) {
        connection.reset();  // closes it
        log("Connecting to " + host + " failed: " + e.getMessage());
        return errorCodeFor(e.getMessage(), settings);
    }
}

int LmUpdateClient::handleFirmwareResponse(const String& version, int throttleKB,
                                           int pauseSeconds) {
    setPacing(throttleKB, pauseSeconds);
    FileInputStream in(installPath(kFirmwarePackagesFile));
    LmUpdateParser parser;
    if (!parser.parse(in)) {
        log("LmUpdate: invalid update response format: ");
        return -5;
    }
    // A self-update answer is not a firmware answer.
    int code = resultCodeOf(parser, {"LmUpdateResponse"});
    if (code < 0) {
        return -5;
    }
    if (code != 201) {
        return 0;
    }
    parser.readPackageInfoList(packages_, false);
    return downloadFirmware(version);
}

int LmUpdateClient::downloadFirmware(const String& version) {
    log("Start to download firmware updates");
    LmPackageInfo* package = findVersion(packages_, version);
    if (package == nullptr) {
        return -5;
    }
    String directory = packageDirectory(*package);
    File dir(directory);
    if (!dir.isDirectory() && !dir.mkdirs()) {
        log("LmUpdate: cannot create download path: " + directory);
        return -5;
    }
    package->path = directory;
    package->file = packageFileName(package->url);
    String localFile = directory + "/" + package->file;
    int result = downloadFirmwareFile(package->product.id, package->product.desc, package->url,
                                      localFile, package->size, version);
    if (result != 0) {
        log("LmUpdate: downloading file failed: " + decimalText(result));
        return result;
    }
    log("LmUpdate: checking md5");
    String digest = md5Hex(localFile);
    log("LmUpdate: md5: " + digest);
    if (!digest.equalsIgnoreCase(package->md5)) {
        log("LmUpdate: invalid md5 in downloading file: " + package->url);
        return -14;
    }
    LmProduct installed;
    if (LmUpdateStore::instance().findProduct(package->product.id, installed)) {
        package->product.installPath = installed.info.installPath;
    }
    package->downloadResult = 1;
    return 0;
}

int LmUpdateClient::downloadFirmwareFile(long id, const String& name, const String& url,
                                         const String& localFile, int32_t size,
                                         const String& version) {
    log("==" + decimalText(id) + name + url + localFile + decimalText(size));
    NetworkSettings settings;
    if (!readSettingsOrLog(settings)) {
        return -2;
    }
    for (const String& host : serversToTry(settings)) {
        FirmwareDownload download{*this, settings, host, id, name, url, localFile, size, version};
        int result;
        try {
            result = download.run();
        } catch (const Exception& e) {
            result = errorCodeFor(e.getMessage(), settings);
        }
        if (download.httpStatus >= 0) {
            httpStatus_ = download.httpStatus;
        }
        if (result != FirmwareDownload::kNextServer) {
            return result;
        }
    }
    return -5;
}

namespace {

int firmwareSteps(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                  const String& downloadDir) {
    Vector<LmPackageInfo> deferred;
    LmUpdateParser parser;
    if (parser.getDelayPackages(deferred) != 0) {
        return -1;
    }
    if (action.equalsIgnoreCase("get_update_info")) {
        int32_t productId = 0;
        try {
            productId = argument.isEmpty() ? 0 : parseNumber(argument, 10);
        } catch (const Exception&) {
            writeToStandardOutput("LmUpdate: invalid firmware product id is specified!\n");
            return -1;
        }
        LmUpdateClient client;
        return client.requestFirmwareUpdate(productId);
    }
    if (action.equalsIgnoreCase("update")) {
        LmUpdateClient client;
        if (!downloadDir.isEmpty()) {
            client.setDownloadDir(downloadDir);
        }
        return client.handleFirmwareResponse(argument, throttleKB, pauseSeconds);
    }
    return -1;
}

}  // namespace

int firmwareAction(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                   const String& downloadDir) {
    return guarded(-5, "", [&] {
        return firmwareSteps(action, argument, throttleKB, pauseSeconds, downloadDir);
    });
}
