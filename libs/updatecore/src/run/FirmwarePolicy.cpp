#include "run/FirmwarePolicy.h"

#include <unistd.h>

#include "SystemLog.h"
#include "Utils.h"
#include "download/DownloadTree.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "trust/PackageRefusal.h"

FirmwarePolicy::FirmwarePolicy(const String& version)
    : version_(version), pid_(static_cast<long>(getpid())) {}

bool FirmwarePolicy::plain(const DownloadOptions&) const {
    return true;
}

// A failure ends the download with its transport code, logged by nothing
// but that code.
ExchangePolicy FirmwarePolicy::exchange() const {
    ExchangePolicy exchange;
    exchange.failureLog = ExchangePolicy::FailureLog::kNothing;
    exchange.endAtFailure = true;
    return exchange;
}

void FirmwarePolicy::started(int32_t size) {
    ProgressReporter::reportFirmwareStart(pid_, size, version_);
}

void FirmwarePolicy::progressed(int32_t received, int32_t size) {
    ProgressReporter::reportFirmwareProgress(pid_, received, size, version_);
}

void FirmwarePolicy::sessionIdReceived(const String& id) {
    log("session ID: " + SystemLog::bodyExcerpt(id));
}

void FirmwarePolicy::answered(int status) {
    log("response code: " + decimalText(status));
}

bool FirmwarePolicy::nextServerAfter(const WrongAnswer& answer) {
    if (answer.badLength && answer.whole) {
        logError("LmUpdate: size don't match");
    }
    return false;
}

void FirmwarePolicy::refuse(const LmPackageInfo& package, const String& localFile,
                            const String& reason) {
    PackageRefusal::reportFirmware(package, reason);
    DownloadTree::removeFile(localFile);
}

void FirmwarePolicy::refuseKeepingFiles(const LmPackageInfo& package, const String& reason) {
    PackageRefusal::reportFirmware(package, reason);
}
