#pragma once

#include "String.h"

// Description of the machine, as kept in the inventory.
struct PlatformInfo {
    String os;       // operating-system name
    String vendor;   // distribution vendor
    String arch;     // processor architecture
    String version;  // kernel release
};
