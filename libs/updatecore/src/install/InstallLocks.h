#pragma once

#include <memory>

#include "String.h"
#include "install/InstallLock.h"

// The install locks of a run, taken in this order:
// - lmupdate-install.lock in the install area when that is ROOT/tmp
//   (InstallArea decides: nobody but root or the user can make or hold
//   anything there), otherwise or when it cannot be held
//   /run/lmupdate/install.lock; what another user holds cannot make the
//   run wait or fail;
// - the legacy lock at legacyPath, which appliances may watch, when it
//   passes InstallLock's checks; otherwise it is skipped with a logged
//   line, as another user could have planted it.
// Both are waited for without limit: whoever holds them is another run.
class InstallLocks {
public:
    InstallLocks(const String& area, const String& legacyPath);

    // False when neither private lock could be made (the reason is shown).
    bool held() const { return lock_ && lock_->held(); }

    static constexpr const char kRunLock[] = "/run/lmupdate/install.lock";

private:
    bool takePrivate(const String& area);
    void takeLegacy(const String& path);

    std::unique_ptr<InstallLock> lock_;
    std::unique_ptr<InstallLock> legacy_;
};
