#include "install/ScriptEnvironment.h"

#include <pwd.h>
#include <unistd.h>

#include <vector>

#include "InstallRoot.h"

namespace {

// The effective user's home directory, "" when the password database has
// none.
String homeDirectory() {
    struct passwd entry = {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        found == nullptr || found->pw_dir == nullptr) {
        return String();
    }
    return String(found->pw_dir);
}

}  // namespace

Vector<String> ScriptEnvironment::entries() {
    Vector<String> entries{kPath, "REGISTER_DIR=" + installRoot(), "LANG=C"};
    String home = homeDirectory();
    if (!home.isEmpty()) {
        entries.add("HOME=" + home);
    }
    return entries;
}
