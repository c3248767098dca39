#include "state/PlatformDetector.h"

#include <sys/utsname.h>
#include <unistd.h>

namespace {

bool exists(const String& path) {
    return ::access(path.c_str(), F_OK) == 0;
}

}  // namespace

PlatformInfo PlatformDetector::detect() {
    struct utsname names {};
    if (::uname(&names) != 0) {
        return PlatformInfo{};
    }
    return describe(names.sysname, names.machine, names.release);
}

PlatformInfo PlatformDetector::describe(const String& systemName, const String& machine,
                                        const String& release, const String& etcDir) {
    PlatformInfo info;
    info.os = systemName;
    if (systemName.equalsIgnoreCase("Linux")) {
        info.vendor = detectVendor(etcDir);
    }
    info.arch = machine;
    info.version = release;
    return info;
}

String PlatformDetector::detectVendor(const String& etcDir) {
    if (exists(etcDir + "/mvl-release")) {
        return "MontaVista";
    }
    if (exists(etcDir + "/redhat-release")) {
        return "RedHat";
    }
    return String();
}
