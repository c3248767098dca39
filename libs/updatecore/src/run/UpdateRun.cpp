#include "run/UpdateRun.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "Exception.h"
#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "StopSignals.h"
#include "SystemLog.h"
#include "Utils.h"
#include "install/InstallLock.h"
#include "install/LmUpdateInstaller.h"
#include "io/AtomicFileWriter.h"
#include "io/File.h"
#include "io/FileDescriptor.h"
#include "io/FileInputStream.h"
#include "report/ProgressReporter.h"
#include "report/Report.h"
#include "run/DelayPackageActions.h"
#include "run/EntryGuard.h"
#include "run/LmUpdateClient.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"
#include "state/WriteLock.h"

using namespace ResultCode;

namespace {

// requestAndDownload's result when the run goes on to install.
constexpr int kGoOn = 1;
constexpr const char kTempDirectory[] = "/tmp/lmupdate";
// Replaced whole, so that a failed write never leaves a half list.
void writeNewPackages(const Vector<LmPackageInfo>& packages) {
    AtomicFileWriter out(installPath(kNewPackagesFile));
    writePackageList(out, packages);
    out.commit();
}

// Asks the servers and downloads: the run's result when it ends here, or
// kGoOn when there are packages to install.
int requestAndDownload(LmUpdateClient& client, int32_t id, int plainDownload, int throttleKB,
                       int pauseSeconds) {
    try {
        if (client.update(id, plainDownload, throttleKB, pauseSeconds) < 0) {
            return client.getHttpStatus() == 401 ? kUpdateUnauthorized : kUpdateServerFailed;
        }
    } catch (const Exception& e) {
        log(e.getMessage());
        return kUpdateServerFailed;
    }
    return client.getPackages().isEmpty() ? kUpdateNothing : kGoOn;
}

// Enters installed packages in the inventory and deferred ones in the
// deferred list; false when the inventory refused a product.
bool recordResults(const Vector<LmPackageInfo>& packages) {
    for (const LmPackageInfo& package : packages) {
        if (package.runResult == 1) {
            if (!LmUpdateStore::instance().registerPackage(package.product.id, package)) {
                return false;
            }
        } else if (package.runResult == -1) {
            addDelayPackage(package, 0);
        }
    }
    return true;
}

// An installer for the packages of conf/lm-newpkgs; the file is closed
// again before any install script starts.
std::unique_ptr<LmUpdateInstaller> readNewPackages() {
    FileInputStream in(installPath(kNewPackagesFile));
    return std::make_unique<LmUpdateInstaller>(in);
}

// Installs the packages of conf/lm-newpkgs (under both locks) and records
// the outcome.
int installAndRecord(int32_t id, int announced) {
    std::unique_ptr<LmUpdateInstaller> installer;
    try {
        installer = readNewPackages();
        if (installer->installAll() <= 0) {
            return kUpdateInstallFailed;
        }
    } catch (const Exception& e) {
        log(e.getMessage());
        return kUpdateInstallFailed;
    }
    try {
        writeNewPackages(installer->getPackages());
    } catch (const Exception&) {
        // The run's outcome does not depend on this record.
    }
    try {
        if (!recordResults(installer->getPackages())) {
            return kUpdateInventory;
        }
    } catch (const Exception& e) {
        log(e.getMessage());
        return kUpdateInventory;
    }
    log("Torvane LmUpdater sucessfully downloaded and installed " + decimalText(announced) +
        " update(s)");
    return id == kSelfProductId ? kUpdateSelfUpdated : kUpdateInstalled;
}

int installUnderLocks(int32_t id, int announced) {
    InstallLock installLock(installLockPath());
    if (!installLock.held()) {
        return kUpdateInstallLock;
    }
    WriteLock writeLock;
    if (!writeLock.held()) {
        return kUpdateWriteLock;
    }
    return installAndRecord(id, announced);
}

// A stop signal during installation waits for the running script and the
// locks; then the run ends as a failed installation.
int endOfInstall(int result) {
    if (!StopSignals::requested()) {
        return result;
    }
    log("LmUpdate: installation stopped by signal " + decimalText(StopSignals::signalNumber()));
    return kUpdateInstallFailed;
}

int runUpdateSteps(int32_t id, int plainDownload, int throttleKB, int pauseSeconds,
                   const String& downloadDir) {
    StopSignals stopSignals;
    LmUpdateClient client;
    if (!downloadDir.isEmpty()) {
        client.setDownloadDir(downloadDir);
    }
    int result = requestAndDownload(client, id, plainDownload, throttleKB, pauseSeconds);
    if (result != kGoOn) {
        return result;
    }
    try {
        writeNewPackages(client.getPackages());
    } catch (const Exception& e) {
        log(e.getMessage());
        // The install step reads this file: an earlier run's list must not
        // be installed in place of the one that could not be written.
        File(installPath(kNewPackagesFile)).remove();
    }
    ProgressReporter::reportInstall(id);
    return endOfInstall(installUnderLocks(id, client.getPackages().size()));
}

}  // namespace

String installLockPath() {
    return String("/tmp/") + installRoot() + "/" + "logs/install.lock";
}

int runUpdate(int32_t id, int plainDownload, int throttleKB, int pauseSeconds,
              const String& downloadDir) {
    return guarded(kUpdateInstallFailed, "", [&] {
        return runUpdateSteps(id, plainDownload, throttleKB, pauseSeconds, downloadDir);
    });
}

int clearTempFiles() {
    File directory(kTempDirectory);
    if (!directory.exists()) {
        return 1;
    }
    return directory.deleteRecursively() ? 1 : 0;
}

void onNetworkTimeout() {
    log("socket connect or read or write timeout!!!");
    if (clearTempFiles() == 0) {
        log("failed to clear tmp files");
    }
    std::exit(kNetworkTimeout);
}
