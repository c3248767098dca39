// The entry operations and binding steps of LmUpdateCore.h that have no
// class of their own.
#include "LmUpdateCore.h"

#include "Exception.h"
#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/File.h"
#include "outcome/RunReportFiles.h"
#include "report/Report.h"
#include "run/EntryGuard.h"
#include "run/LmUpdateClient.h"
#include "run/ReportedRun.h"
#include "session/ServerSession.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"

using namespace ResultCode;

namespace {

// Creates one state file when it is missing; false when that failed.
bool createIfMissing(const char* relative, bool (*create)()) {
    if (File(installPath(relative)).exists()) {
        return true;
    }
    if (!create()) {
        return false;
    }
    writeLineToStandardOutput(String("created: ") + relative);
    return true;
}

// A session's action with its run report: what it fetched and why it failed.
template <class Action>
int reportedSession(const char* name, int failure, Action action) {
    ReportedRun reported(name);
    ServerSession session;
    int code = guarded(failure, "LmUpdate: ", [&] {
        LmUpdateClient client(session);
        return action(client);
    });
    RunRecord record;
    record.setBytesFetched(session.bytesFetched());
    record.setCause(session.cause());
    reported.report().take(record);
    return reported.end(code);
}

}  // namespace

bool bindInventory() {
    try {
        LmUpdateStore::instance().load(installPath(kInventoryFile));
        return true;
    } catch (const Exception& e) {
        writeLineToStandardOutput("LmUpdate: cannot read inventory: " + e.getMessage());
        return false;
    }
}

void loadNetworkSettings() {
    try {
        LmNetConfig::getInstance().load(installPath(LmNetConfig::kSettingsFile).c_str());
    } catch (const Exception&) {
        // The actions report settings they cannot use.
    }
}

bool acceptDownloadDir(const String& downloadDir) {
    if (downloadDir.isEmpty() || !File(downloadDir).exists()) {
        writeLineToStandardOutput("LmUpdate: invalid download directory: " + downloadDir);
        return false;
    }
    return true;
}

int initStateFiles() {
    return guarded(kInitFailed, "LmUpdate: ", [] {
        File(installPath("conf")).mkdirs();
        bool ok = createIfMissing(kInventoryFile, createDefaultInventory);
        ok = createIfMissing(kPartialFilesFile, createPartialFilesFile) && ok;
        ok = createIfMissing(kDelayPackagesFile, createDelayPackagesFile) && ok;
        return ok ? kOk : kInitFailed;
    });
}

int pingServers() {
    return reportedSession("ping", kPingFailed,
                           [](LmUpdateClient& client) { return client.ping(); });
}

int verifyAppliance() {
    return reportedSession("verify", kVerifyNoAnswer,
                           [](LmUpdateClient& client) { return client.verify(); });
}

void setMetricsFile(const String& path) {
    ReportedRun::setMetricsFile(path);
}

int showLastRun(bool json) {
    String shown;
    try {
        shown = RunReportFiles::showLast(json);
    } catch (const IOException& e) {
        SystemLog::show("LmUpdate: no run report: " + e.getMessage(), LogPriority::kError);
        return kUsageError;
    }
    writeToStandardOutput(shown);
    return kOk;
}
