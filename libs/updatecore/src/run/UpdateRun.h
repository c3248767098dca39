#pragma once

#include <cstdint>
#include <optional>
#include <utility>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "io/DirectoryHandle.h"
#include "session/DownloadOptions.h"
#include "state/RunRecord.h"

class LmUpdateInstaller;
struct UpdateResult;

// One whole update run for a product (1000: the update client itself):
// check the paths it trusts, ask the servers and download, install under the install lock and the
// write lock, enter installed packages in the inventory and deferred ones in the deferred list.
// Needs the inventory bound.
class UpdateRun {
public:
    explicit UpdateRun(DownloadOptions options) : options_(std::move(options)) {}

    // The run's result: a kUpdate... code.
    int run(int32_t id);
    // What the run did, for each product and in bytes fetched.
    const RunRecord& record() const { return record_; }

private:
    int refuseUnsafePath();
    // False (the path named on standard error) when a path the run trusts
    // may be changed by another user.
    bool openTrustedPlaces();
    void trimSeeds();
    // Asks and downloads: the run's result when it ends there, else the
    // packages to install.
    std::optional<int> requestAndDownload(int32_t id, Vector<LmPackageInfo>& packages);
    int installUnderLocks(int32_t id, int announced);
    void removeWorkspaceLeftovers();
    int installAndRecord(int32_t id, int announced);
    void noteInstalled(const LmUpdateInstaller& installer);

    const DownloadOptions options_;
    RunRecord record_;
    std::optional<DirectoryHandle> downloads_;
    std::optional<DirectoryHandle> area_;
    // The seed cache's cap in bytes; 0 when no seed is kept this run.
    int64_t seedCap_ = 0;
    // The daily byte budget held a download back.
    bool overBudget_ = false;
};

// The options of a run from the command line's values: an empty or missing
// downloadDir keeps the default download directory.
DownloadOptions downloadOptions(int plainDownload, int throttleKB, int pauseSeconds,
                                const String& downloadDir);

// "/tmp/" + the installation root + "/logs/install.lock", the legacy
// install lock.
String installLockPath();

// Removes the session's temporary directory "/tmp/lmupdate": true when it
// is gone (or was never there).
bool clearTempFiles();

// After a network time-out: logs, clears the temporary files and ends the
// process with exit status -9.
[[noreturn]] void onNetworkTimeout();
