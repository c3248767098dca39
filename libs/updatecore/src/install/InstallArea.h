#pragma once

#include "io/DirectoryHandle.h"

// Where packages are unpacked and their scripts run: a directory that no
// user but root and the running one can change, so that nobody can swap
// what a script is run from. ROOT/tmp when it keeps the path rule (made
// 0755 when missing); otherwise /run/lmupdate (made 0700 when missing),
// which only root can make. Each package gets a fresh private directory in
// it (PackageWorkspace).
class InstallArea {
public:
    // The area, opened. Raises UnsafePathException "PATH: REASON" naming
    // ROOT/tmp's problem when neither directory can be used.
    static DirectoryHandle open();

    static constexpr const char kRuntimeArea[] = "/run/lmupdate";
};
