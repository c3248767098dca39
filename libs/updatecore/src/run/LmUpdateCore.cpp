// The entry operations and binding steps of LmUpdateCore.h that have no
// class of their own, and the table of every action's results.
#include "LmUpdateCore.h"

#include <iterator>

#include "Exception.h"
#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "Utils.h"
#include "io/File.h"
#include "report/CoreHelpers.h"
#include "run/LmUpdateClient.h"
#include "state/LmUpdateStore.h"

using namespace ResultCode;

const ActionResult kActionResults[] = {
    {"any", kUsageError},
    {"inventory", kInventoryUnreadable},
    {"init", kOk},
    {"init", kInitFailed},
    {"update", kUpdateInstalled},
    {"update", kUpdateSelfUpdated},
    {"update", kUpdateNothing},
    {"update", kUpdateInventory},
    {"update", kUpdateServerFailed},
    {"update", kUpdateInstallFailed},
    {"update", kUpdateUnauthorized},
    {"update", kUpdateWriteLock},
    {"delay install", 0},  // the install-package script's exit status
    {"delay install", 1},
    {"delay install", 2},
    {"delay install", kDelayFailed},
    {"delay install", kDelayInventory},
    {"delay status", kOk},
    {"delay status", kDelayFailed},
    {"delay remove", kOk},
    {"delay remove", kDelayFailed},
    {"firmware", kOk},
    {"firmware", kFirmwareBadRequest},
    {"firmware", kFirmwareSettings},
    {"firmware", kFirmwareProtocol},
    {"firmware", kFirmwareUnauthorized},
    {"firmware", kFirmwareNotFound},
    {"firmware", kFirmwareNoConnection},
    {"firmware", kFirmwareDigest},
    {"firmware", kFirmwareNoSessionId},
    {"firmware", kInvalidHost},
    {"firmware", kProxyFailed},
    {"firmware", kConnectRefused},
    {"firmware", kConnectTimeout},
    {"firmware", kReadFailed},
    {"firmware", kReadTimeout},
    {"firmware", kWriteFailed},
    {"firmware", kWriteTimeout},
    {"firmware", kConnectFailed},
    {"register", kOk},
    {"register", kRegisterFailed},
    {"deregister", kOk},
    {"deregister", kDeregisterFailed},
    {"list", kOk},
    {"list", kNothingToList},
    {"product-version", kOk},
    {"ping", kOk},
    {"ping", kPingSettings},
    {"ping", kPingFailed},
    {"ping", kInvalidHost},
    {"ping", kProxyFailed},
    {"ping", kConnectRefused},
    {"ping", kConnectTimeout},
    {"ping", kReadFailed},
    {"ping", kReadTimeout},
    {"ping", kWriteFailed},
    {"ping", kWriteTimeout},
    {"ping", kConnectFailed},
    {"verify", kOk},
    {"verify", kVerifySettings},
    {"verify", kVerifyUnauthorized},
    {"verify", kVerifyNoAnswer},
};
const int kActionResultCount = static_cast<int>(std::size(kActionResults));

namespace {

// Creates one state file when it is missing; false when that failed.
bool createIfMissing(const char* relative, int (*create)()) {
    if (File(installPath(relative)).exists()) {
        return true;
    }
    if (create() != kOk) {
        return false;
    }
    writeLineToStandardOutput(String("created: ") + relative);
    return true;
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
        LmNetConfig::getInstance().load(installPath(kSettingsFile).c_str());
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
    File(installPath("conf")).mkdirs();
    bool ok = createIfMissing(kInventoryFile, createDefaultInventory);
    ok = createIfMissing(kPartialFilesFile, createPartialFilesFile) && ok;
    ok = createIfMissing(kDelayPackagesFile, createDelayPackagesFile) && ok;
    return ok ? kOk : kInitFailed;
}

int pingServers() {
    return LmUpdateClient().ping();
}

int verifyAppliance() {
    return LmUpdateClient().verify();
}
