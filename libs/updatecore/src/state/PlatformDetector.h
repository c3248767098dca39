#pragma once

#include "PlatformInfo.h"
#include "String.h"

// Describes the running machine for the inventory: the system, machine and
// release names of uname, and on Linux the distribution vendor told by the
// release files.
class PlatformDetector {
public:
    // All four fields empty when uname fails.
    static PlatformInfo detect();

    // The same rules on given uname fields, with the release files looked
    // for in etcDir.
    static PlatformInfo describe(const String& systemName, const String& machine,
                                 const String& release, const String& etcDir = "/etc");

private:
    static String detectVendor(const String& etcDir);
};
