#include "run/DelayPackageActions.h"

#include <exception>
#include <memory>

#include "Exception.h"
#include "InstallRoot.h"
#include "LmUpdateCore.h"
#include "StateDocument.h"
#include "SystemLog.h"
#include "Utils.h"
#include "Vector.h"
#include "install/LmUpdateInstaller.h"
#include "io/File.h"
#include "io/PathTrust.h"
#include "report/Report.h"
#include "run/EntryGuard.h"
#include "run/ReportedRun.h"
#include "state/LmUpdateStore.h"
#include "state/StateFiles.h"
#include "trust/SigningKey.h"

using namespace ResultCode;

namespace {

bool matches(const LmPackageInfo& package, int32_t id) {
    return package.product.id != -1 && (id == 0 || package.product.id == id);
}

// Takes the packages of id (0: all) out of list, in memory, adding their
// directories to gone; false when the list is empty.
bool dropDelayed(int32_t id, Vector<LmPackageInfo>& list, Vector<String>& gone) {
    log("LmUpdate: remove delay package id: " + decimalText(id));
    if (list.isEmpty()) {
        log("LmUpdate: NO delay package ");
        return false;
    }
    for (LmPackageInfo& package : list) {
        if (matches(package, id)) {
            package.product.id = -1;
            gone.add(package.path);
        }
    }
    return true;
}

bool listed(const Vector<LmPackageInfo>& list, const String& directory) {
    for (const LmPackageInfo& package : list) {
        if (package.product.id != -1 && package.path == directory) {
            return true;
        }
    }
    return false;
}

// The list is saved before the directories go: a power cut in between
// leaves a directory nothing names, never an entry naming no directory.
// One that a package still in the list names stays.
bool saveDelayed(const Vector<LmPackageInfo>& list, const Vector<String>& gone, int removeFiles) {
    if (!savePackages(list, installPath(kDelayPackagesFile))) {
        return false;
    }
    for (const String& directory : gone) {
        if (removeFiles != 0 && !listed(list, directory)) {
            LmUpdateInstaller::removeProductDirectory(directory);
        }
    }
    return true;
}

int removeDelayed(int32_t id, Vector<LmPackageInfo>& list, int removeFiles) {
    Vector<String> gone;
    if (!dropDelayed(id, list, gone)) {
        return 0;
    }
    return saveDelayed(list, gone, removeFiles) ? kOk : kDelayFailed;
}

// The package-list document of the deferred packages of id (0: all), made
// in memory: nothing of it needs a file.
bool statusDocument(int32_t id, Vector<LmPackageInfo>& list, String& document) {
    if (id != 0) {
        for (LmPackageInfo& package : list) {
            if (package.product.id != -1) {
                log("LmUpdate:checking id:" + decimalText(package.product.id));
                if (package.product.id != id) {
                    package.product.id = -1;
                }
            }
        }
    }
    if (!packageListDocument(list, document)) {
        logError("LmUpdate: status delay package, failed to make the package list");
        return false;
    }
    return true;
}

int statusDelayed(int32_t id, Vector<LmPackageInfo>& list, String& action) {
    log("LmUpdate: status delay package id: " + decimalText(id));
    String document;
    if (!statusDocument(id, list, document)) {
        return kDelayFailed;
    }
    action = document;
    writeToStandardOutput(action);
    return 0;
}

// "status" and "remove" run as whole actions, each reading the deferred list
// afresh, so the other products' deferred packages stay untouched.
int installDelayed(int32_t id, String& action) {
    if (id == 0) {
        return kDelayFailed;
    }
    log("LmUpdate: install delay package id: " + decimalText(id));
    action = "status";
    if (delayPackageAction(id, action, 1) != kOk) {
        return kDelayFailed;
    }
    StateDocument delayed;
    Vector<LmPackageInfo> packages;
    if (!delayed.parse(action) || delayed.readPackageInfoList(packages, false) != 1) {
        logError("LmUpdate: failed to install delay package, NO such id: " + decimalText(id));
        return kDelayFailed;
    }
    // The script runs from its path: nobody but root and this user may be
    // able to swap a directory on it.
    String unsafe = PathTrust::problem(packages[0].path);
    if (!unsafe.isEmpty()) {
        showUnsafePath(unsafe);
        return kDelayFailed;
    }
    SigningKey::warnIfUnchecked(packages[0]);
    std::optional<int> status = LmUpdateInstaller::runInstallPackage(packages[0]);
    // Entered in the inventory before it leaves the list: a power cut in
    // between leaves it installed and still listed (a later install runs
    // its script again), never neither, which would fetch it again.
    bool registered =
        status && *status <= 1 && LmUpdateStore::instance().registerPackage(id, packages[0]);
    action = "remove";
    delayPackageAction(id, action, 1);
    if (!status) {
        return kDelayFailed;
    }
    if (*status <= 1 && !registered) {
        return kDelayInventory;
    }
    return *status;
}

int delaySteps(int32_t id, String& action, int removeFiles) {
    Vector<LmPackageInfo> list;
    StateDocument state;
    if (state.getDelayPackages(list) != 0) {
        return kDelayFailed;
    }
    if (action.equalsIgnoreCase("install")) {
        return installDelayed(id, action);
    }
    if (action.equalsIgnoreCase("remove")) {
        return removeDelayed(id, list, removeFiles);
    }
    if (action.equalsIgnoreCase("status")) {
        return statusDelayed(id, list, action);
    }
    return 0;
}

}  // namespace

int delayPackageAction(int32_t id, String& action, int removeFiles) {
    auto steps = [&] {
        return guarded(kDelayFailed,
                       "LmUpdate: ", [&] { return delaySteps(id, action, removeFiles); });
    };
    if (!action.equalsIgnoreCase("install")) {
        return steps();
    }
    ReportedRun reported("delay install");
    return reported.end(steps());
}

// The older deferred package goes and the new one comes in one save: a
// power cut between two would lose both.
void addDelayPackage(const LmPackageInfo& package, int removeFiles) {
    try {
        Vector<LmPackageInfo> list;
        StateDocument state;
        String path = installPath(kDelayPackagesFile);
        // A list that exists but cannot be read is not overwritten: the
        // other deferred packages in it would be lost.
        if (state.getDelayPackages(list) != 0 && File(path).exists()) {
            return;
        }
        Vector<String> gone;
        dropDelayed(package.product.id, list, gone);
        log("LmUpdate: package id: " + decimalText(package.product.id));
        list.add(package);
        saveDelayed(list, gone, removeFiles);
    } catch (const Exception& e) {
        logError("LmUpdate: " + e.getMessage());
    } catch (const std::exception& e) {
        logError(e.what());
    }
}
