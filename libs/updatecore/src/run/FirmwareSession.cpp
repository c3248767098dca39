#include "run/FirmwareSession.h"

#include <optional>

#include <unistd.h>

#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "LmUpdateParser.h"
#include "Utils.h"
#include "download/DownloadTree.h"
#include "download/FileDownload.h"
#include "download/PackageDownload.h"
#include "io/File.h"
#include "io/FileInputStream.h"
#include "net/HttpRequest.h"
#include "net/URL.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "run/EntryGuard.h"
#include "run/LmUpdateClient.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"
#include "state/LmUpdateStore.h"
#include "trust/PackageRefusal.h"
#include "trust/PackageTrust.h"
#include "trust/StreamingDigest.h"

namespace {

// A body, else kFirmwareNoConnection when the request did not go out, else
// refused.
int firmwareCode(Answer answer, int refused) {
    switch (answer) {
        case Answer::kBody:
            return ResultCode::kOk;
        case Answer::kNotSent:
            return ResultCode::kFirmwareNoConnection;
        case Answer::kBadStatus:
        case Answer::kNoBody:
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

// Only the first server is asked for firmware; a failure ends the request
// with its transport code.
ExchangePolicy requestPolicy() {
    ExchangePolicy policy;
    policy.firstServerOnly = true;
    policy.logUnsent = true;
    policy.afterFailure = ExchangePolicy::AfterFailure::kTransportCode;
    policy.exhausted = ResultCode::kFirmwareSettings;
    return policy;
}

// A firmware download: always plain, resumed from what is on disk, a
// refused answer ends it with its code, progress to the firmware script.
DownloadPolicy downloadPolicy(const String& version) {
    ExchangePolicy exchange;
    exchange.failureLog = ExchangePolicy::FailureLog::kNothing;
    exchange.afterFailure = ExchangePolicy::AfterFailure::kTransportCode;
    exchange.exhausted = ResultCode::kFirmwareProtocol;
    long pid = static_cast<long>(getpid());
    return DownloadPolicy{
        exchange,
        true,
        false,
        true,
        ResultCode::kFirmwareSettings,
        [pid, version](int32_t size) { ProgressReporter::reportFirmwareStart(pid, size, version); },
        [pid, version](int32_t received, int32_t size) {
            ProgressReporter::reportFirmwareProgress(pid, received, size, version);
        },
    };
}

}  // namespace

FirmwareSession::FirmwareSession(const String& downloadDir) {
    if (!downloadDir.isEmpty() && File(downloadDir).exists()) {
        state_.downloadDir = downloadDir;
    }
}

int FirmwareSession::requestUpdate(int32_t productId) {
    NetworkSettings settings;
    if (!ConnectionFactory::readSettings(settings)) {
        return ResultCode::kFirmwareSettings;
    }
    ServerExchange exchange(state_, settings, requestPolicy());
    return exchange.run([&](ServerCall& call) {
        HttpConnection* connection = call.open(ConnectionFactory::kSessionConnection);
        if (connection == nullptr) {
            return Step::end(ResultCode::kFirmwareSettings);
        }
        HttpRequest request(
            URL(ConnectionFactory::sessionUrl(settings, call.host(), "/lm-firmware-update")));
        if (!RequestBuilder::setDocumentRequest(request, productId, "X-Lm-Update-Protocol-Version",
                                                settings)) {
            return Step::end(ResultCode::kFirmwareSettings);
        }
        String body;
        int code = firmwareCode(call.exchangeForAnswer(connection, request, body),
                                ResultCode::kFirmwareProtocol);
        if (code == ResultCode::kOk) {
            writeToStandardOutput(body);
        }
        return Step::end(code);
    });
}

int FirmwareSession::handleResponse(const String& version, int throttleKB, int pauseSeconds) {
    state_.throttleKB = throttleKB;
    state_.pauseSeconds = pauseSeconds;
    FileInputStream in(installPath(kFirmwarePackagesFile));
    LmUpdateParser parser;
    parser.setSource(LmUpdateParser::Source::kNetwork);
    if (!parser.parse(in)) {
        log("LmUpdate: invalid update response format: " + parser.getErrorText());
        return ResultCode::kFirmwareProtocol;
    }
    // A self-update answer is not a firmware answer.
    int code = LmUpdateClient::resultCodeOf(parser, {"LmUpdateResponse"});
    if (code < 0) {
        return ResultCode::kFirmwareProtocol;
    }
    if (code != LmUpdateClient::kPackagesAnnounced) {
        return ResultCode::kOk;
    }
    parser.readPackageInfoList(state_.packages, false);
    return download(version);
}

int FirmwareSession::download(const String& version) {
    log("Start to download firmware updates");
    LmPackageInfo* found = findVersion(state_.packages, version);
    if (found == nullptr) {
        return ResultCode::kFirmwareProtocol;
    }
    LmPackageInfo& package = *found;
    PackageTrust trust;
    String problem = PackageDownload::refusalOf(package);
    if (problem.isEmpty()) {
        problem = trust.metadataProblem(package);
    }
    if (!problem.isEmpty()) {
        return PackageRefusal::refuseFirmware(package, String(), problem);
    }
    std::optional<DirectoryHandle> handle;
    int prepared = prepareDirectory(package, handle);
    if (prepared != ResultCode::kOk) {
        return prepared;
    }
    String localFile = package.path + "/" + package.file;
    StreamingDigest digest;
    digest.setSha256Wanted(!package.sha256.isEmpty());
    int result = downloadFile({package.product.id, package.product.desc, package.url, localFile,
                               &*handle, package.size, &digest},
                              version);
    if (result != ResultCode::kOk) {
        log("LmUpdate: downloading file failed: " + decimalText(result));
        return result;
    }
    problem = PackageDownload::fileProblem(trust, package, localFile, &digest);
    if (!problem.isEmpty()) {
        return PackageRefusal::refuseFirmware(package, localFile, problem);
    }
    PackageDownload::markDownloaded(package);
    return ResultCode::kOk;
}

// The firmware's directory, opened safely, with path and file set; else the
// result of the refusal or of a directory that cannot be made.
int FirmwareSession::prepareDirectory(LmPackageInfo& package,
                                      std::optional<DirectoryHandle>& handle) {
    String directory = PackageDownload::packageDirectory(state_.downloadDir, package);
    String unsafe;
    handle = DownloadTree(state_.downloadDir).packageDirectory(package, unsafe);
    if (!unsafe.isEmpty()) {
        // Nothing there is removed: another user could swap what is removed.
        return PackageRefusal::refuseFirmware(package, String(), unsafe);
    }
    if (!handle) {
        log("LmUpdate: cannot create download path: " + directory);
        return ResultCode::kFirmwareProtocol;
    }
    package.path = directory;
    package.file = PackageDownload::packageFileName(package.url);
    String problem = DownloadTree::fileProblem(*handle, package.file);
    if (!problem.isEmpty()) {
        return PackageRefusal::refuseFirmware(package, directory + "/" + package.file, problem);
    }
    return ResultCode::kOk;
}

int FirmwareSession::downloadFile(const DownloadTarget& target, const String& version) {
    DownloadPolicy policy = downloadPolicy(version);
    return FileDownload(state_, policy, target).run();
}

namespace {

int requestAction(const String& argument) {
    int productId = 0;
    if (!argument.isEmpty() && !tryParseNumber(argument, productId)) {
        writeToStandardOutput("LmUpdate: invalid firmware product id is specified!\n");
        return ResultCode::kFirmwareBadRequest;
    }
    return FirmwareSession().requestUpdate(productId);
}

int firmwareSteps(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                  const String& downloadDir) {
    Vector<LmPackageInfo> deferred;
    LmUpdateParser parser;
    if (parser.getDelayPackages(deferred) != 0) {
        return ResultCode::kFirmwareBadRequest;
    }
    if (action.equalsIgnoreCase("get_update_info")) {
        return requestAction(argument);
    }
    if (action.equalsIgnoreCase("update")) {
        return FirmwareSession(downloadDir).handleResponse(argument, throttleKB, pauseSeconds);
    }
    return ResultCode::kFirmwareBadRequest;
}

}  // namespace

int firmwareAction(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                   const String& downloadDir) {
    return guarded(ResultCode::kFirmwareProtocol, "", [&] {
        return firmwareSteps(action, argument, throttleKB, pauseSeconds, downloadDir);
    });
}
