#pragma once

// The update run (runUpdate of LmUpdateCore.h) and its temporary files.

#include "String.h"

// "/tmp/" + the installation root + "/logs/install.lock".
String installLockPath();

// Removes the session's temporary directory "/tmp/lmupdate": 1 when it is
// gone (or was never there), 0 when it could not be removed.
int clearTempFiles();

// After a network time-out: logs, clears the temporary files and ends the
// process with exit status -9.
[[noreturn]] void onNetworkTimeout();
