#include "run/FirmwareSession.h"

#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "ServerAnswer.h"
#include "StateDocument.h"
#include "StateFileNames.h"
#include "Utils.h"
#include "download/PackageFetch.h"
#include "io/FileInputStream.h"
#include "net/HttpRequest.h"
#include "net/URL.h"
#include "report/Report.h"
#include "run/EntryGuard.h"
#include "run/FirmwarePolicy.h"
#include "run/LmUpdateClient.h"
#include "run/ReportedRun.h"
#include "run/UpdateRun.h"
#include "session/ConnectionFactory.h"
#include "session/RequestBuilder.h"
#include "session/ServerExchange.h"
#include "session/TransportErrors.h"

using namespace ResultCode;

namespace {

// A body, else kFirmwareNoConnection when the request did not go out, else
// kFirmwareProtocol.
int firmwareCode(Answer answer) {
    switch (answer) {
        case Answer::kBody:
            return kOk;
        case Answer::kNotSent:
            return kFirmwareNoConnection;
        case Answer::kBadStatus:
        case Answer::kNoBody:
            break;
    }
    return kFirmwareProtocol;
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
    policy.endAtFailure = true;
    return policy;
}

int failureCode(const String& message) {
    NetworkSettings settings;
    ConnectionFactory::readSettings(settings);
    return TransportErrors::codeFor(message, settings);
}

}  // namespace

int FirmwareSession::requestUpdate(int32_t productId) {
    NetworkSettings settings;
    if (!ConnectionFactory::readSettings(settings)) {
        return kFirmwareSettings;
    }
    int code = kFirmwareSettings;
    ServerExchange exchange(session_, settings, requestPolicy());
    ServerExchange::End end = exchange.run([&](ServerCall& call) {
        if (!call.open(ConnectionKind::kSession)) {
            return true;
        }
        HttpRequest request(
            URL(ConnectionFactory::sessionUrl(settings, call.host(), "/lm-firmware-update")));
        if (!RequestBuilder::setDocumentRequest(request, productId, "X-Lm-Update-Protocol-Version",
                                                settings)) {
            return true;
        }
        String body;
        code = firmwareCode(call.fetchAnswer(request, body));
        if (code == kOk) {
            writeToStandardOutput(body);
        }
        return true;
    });
    return end == ServerExchange::End::kFailed ? failureCode(exchange.failure()) : code;
}

int FirmwareSession::handleResponse(const String& version) {
    FileInputStream in(installPath(kFirmwarePackagesFile));
    ServerAnswer answer;
    if (!answer.parse(in)) {
        logError("LmUpdate: invalid update response format: " + answer.getErrorText());
        return kFirmwareProtocol;
    }
    // A self-update answer is not a firmware answer.
    std::optional<int> code = answer.resultCodeIn({"LmUpdateResponse"});
    if (!code) {
        return kFirmwareProtocol;
    }
    if (*code != LmUpdateClient::kPackagesAnnounced) {
        return kOk;
    }
    Vector<LmPackageInfo> packages;
    answer.readPackageInfoList(packages, false);
    return download(packages, version);
}

int FirmwareSession::download(Vector<LmPackageInfo>& packages, const String& version) {
    log("Start to download firmware updates");
    LmPackageInfo* package = findVersion(packages, version);
    if (package == nullptr) {
        return kFirmwareProtocol;
    }
    FirmwarePolicy policy(version);
    FetchResult fetched = PackageFetch(session_, Vector<String>()).run(*package, policy);
    switch (fetched.outcome) {
        case FetchOutcome::kFetched:
            return kOk;
        case FetchOutcome::kRefused:
            return kFirmwareDigest;
        case FetchOutcome::kNoDirectory:
            return kFirmwareProtocol;
        case FetchOutcome::kOverBudget:
            session_.reportBudgetReached();
            return kFirmwareBudgetReached;
        case FetchOutcome::kIncomplete:
        case FetchOutcome::kStopped:
        case FetchOutcome::kTransferFailed:
            break;
    }
    int result = transferCode(fetched.transfer);
    logError("LmUpdate: downloading file failed: " + decimalText(result));
    return result;
}

int FirmwareSession::transferCode(const TransferResult& transfer) {
    switch (transfer.outcome) {
        case TransferOutcome::kBrokeOff:
            return failureCode(transfer.detail);
        case TransferOutcome::kWrongAnswer:
            return transfer.status == 401   ? kFirmwareUnauthorized
                   : transfer.status == 404 ? kFirmwareNotFound
                                            : kFirmwareProtocol;
        case TransferOutcome::kNoSessionId:
            return kFirmwareNoSessionId;
        case TransferOutcome::kSessionIdNotSent:
            return kFirmwareNoConnection;
        case TransferOutcome::kNoSettings:
            return kFirmwareSettings;
        default:
            return kFirmwareProtocol;
    }
}

namespace {

int requestAction(const String& argument) {
    int productId = 0;
    if (!argument.isEmpty() && !tryParseNumber(argument, productId)) {
        writeToStandardOutput("LmUpdate: invalid firmware product id is specified!\n");
        return kFirmwareBadRequest;
    }
    return FirmwareSession().requestUpdate(productId);
}

int firmwareSteps(const String& action, const String& argument, const DownloadOptions& options) {
    Vector<LmPackageInfo> deferred;
    StateDocument state;
    if (state.getDelayPackages(deferred) != 0) {
        return kFirmwareBadRequest;
    }
    if (action.equalsIgnoreCase("get_update_info")) {
        return requestAction(argument);
    }
    if (action.equalsIgnoreCase("update")) {
        return FirmwareSession(options).handleResponse(argument);
    }
    return kFirmwareBadRequest;
}

}  // namespace

int firmwareAction(const String& action, const String& argument, int throttleKB, int pauseSeconds,
                   const String& downloadDir) {
    ReportedRun reported("firmware");
    return reported.end(guarded(kFirmwareProtocol, "", [&] {
        return firmwareSteps(action, argument,
                             downloadOptions(0, throttleKB, pauseSeconds, downloadDir));
    }));
}
