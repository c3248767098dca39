#include "install/InstallLocks.h"

#include "io/PathTrust.h"
#include "report/Report.h"

InstallLocks::InstallLocks(const String& root, const String& legacyPath) {
    if (takePrivate(root + "/tmp")) {
        takeLegacy(legacyPath);
    }
}

bool InstallLocks::takePrivate(const String& directory) {
    String problem = PathTrust::problem(directory);
    if (problem.isEmpty()) {
        String path = directory + "/lmupdate-install.lock";
        lock_ = std::make_unique<InstallLock>(path);
        if (lock_->held()) {
            return true;
        }
        problem = path + ": " + lock_->refusal();
    }
    log("LmUpdate: install lock in /run: " + problem);
    lock_ = std::make_unique<InstallLock>(kRunLock);
    if (!lock_->held()) {
        // Nothing is installed without a lock: a person must learn why.
        warn(String("LmUpdate: install lock refused: ") + kRunLock + ": " + lock_->refusal());
    }
    return lock_->held();
}

void InstallLocks::takeLegacy(const String& path) {
    legacy_ = std::make_unique<InstallLock>(path);
    if (!legacy_->held()) {
        log("LmUpdate: legacy install lock skipped: " + path + ": " + legacy_->refusal());
    }
}
