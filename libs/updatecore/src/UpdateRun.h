#pragma once

#include <cstdint>

#include "String.h"

// One whole update run for product id (1000 is the update client itself):
// ask the servers, download, install under the install lock and the write
// lock, record installed and deferred packages. The caller binds the
// process-wide LmUpdateStore to the inventory first. A non-empty
// downloadDir replaces the session's download directory.
//   2  updates were downloaded and installed (1 for product 1000)
//   0  nothing to install
//  -2  the inventory could not take a newly installed version
//  -5  asking the servers or downloading failed
//  -6  nothing could be installed, or installing failed
//  -8  the last server response had HTTP status 401
// -12  the write lock could not be obtained
// Never throws.
int runUpdate(int32_t id, int plainDownload, int throttleKB, int pauseSeconds,
              const String& downloadDir = String());

// "/tmp/" + the installation root + "/logs/install.lock".
String installLockPath();

// Removes the session's temporary directory "/tmp/lmupdate": 1 when it is
// gone (or was never there), 0 when it could not be removed.
int clearTempFiles();

// After a network time-out: logs, clears the temporary files and ends the
// process with exit status -9.
[[noreturn]] void onNetworkTimeout();
