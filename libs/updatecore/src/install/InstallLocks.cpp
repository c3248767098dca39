#include "install/InstallLocks.h"

#include "install/InstallArea.h"
#include "report/Report.h"

InstallLocks::InstallLocks(const String& area, const String& legacyPath) {
    if (takePrivate(area)) {
        takeLegacy(legacyPath);
    }
}

bool InstallLocks::takePrivate(const String& area) {
    if (area != InstallArea::kRuntimeArea) {
        String path = area + "/lmupdate-install.lock";
        lock_ = std::make_unique<InstallLock>(path);
        if (lock_->held()) {
            return true;
        }
        logWarning("LmUpdate: install lock in /run: " + path + ": " + lock_->refusal());
    }
    lock_ = std::make_unique<InstallLock>(kRunLock);
    if (!lock_->held()) {
        // Nothing is installed without a lock: a person must learn why.
        showError(String("LmUpdate: install lock refused: ") + kRunLock + ": " + lock_->refusal());
    }
    return lock_->held();
}

void InstallLocks::takeLegacy(const String& path) {
    legacy_ = std::make_unique<InstallLock>(path);
    if (!legacy_->held()) {
        logWarning("LmUpdate: legacy install lock skipped: " + path + ": " + legacy_->refusal());
    }
}
