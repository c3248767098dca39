#include "install/PackageWorkspace.h"

#include <cctype>

#include "Exception.h"
#include "Vector.h"

namespace {

constexpr const char* kSource = "PackageWorkspace";
constexpr const char kPrefix[] = "lmupdate-";

// The names ID and VERSION of path below downloads ("DOWNLOADS/ID/VERSION").
Vector<String> packageNames(const DirectoryHandle& downloads, const String& path) {
    String prefix = downloads.path() + "/";
    Vector<String> names;
    if (path.startsWith(prefix.str())) {
        path.substring(prefix.length()).split("/", names);
    }
    bool dots = false;
    for (const String& name : names) {
        dots = dots || name == "." || name == "..";
    }
    if (names.size() != 2 || dots) {
        throw UnsafePathException(path + ": not a package directory of " + downloads.path(),
                                  kSource, __LINE__);
    }
    return names;
}

// The names freshSubdirectory() gives: the prefix and six letters or digits.
bool isWorkspaceName(const String& name) {
    if (!name.startsWith(kPrefix) || name.length() != static_cast<int>(sizeof kPrefix) - 1 + 6) {
        return false;
    }
    for (int i = static_cast<int>(sizeof kPrefix) - 1; i < name.length(); ++i) {
        if (std::isalnum(static_cast<unsigned char>(name.charAt(i))) == 0) {
            return false;
        }
    }
    return true;
}

}  // namespace

int PackageWorkspace::removeLeftovers(const DirectoryHandle& area) {
    int removed = 0;
    for (const String& name : area.entryNames()) {
        if (isWorkspaceName(name)) {
            removed += area.removeTree(name) ? 1 : 0;
        }
    }
    return removed;
}

PackageWorkspace::PackageWorkspace(const DirectoryHandle& downloads, const DirectoryHandle& area,
                                   const LmPackageInfo& package)
    : downloads_(downloads),
      area_(area),
      product_(packageNames(downloads, package.path)[0]),
      directory_(area.freshSubdirectory(kPrefix)) {
    try {
        Vector<String> names = packageNames(downloads, package.path);
        DirectoryHandle version =
            downloads.existingSubdirectory(names[0]).existingSubdirectory(names[1]);
        version.moveFile(package.file, directory_);
    } catch (...) {
        area_.removeTree(nameOf(directory_));
        throw;
    }
}

PackageWorkspace::~PackageWorkspace() {
    if (aside_) {
        area_.removeTree(nameOf(*aside_));
    }
    if (!kept_) {
        area_.removeTree(nameOf(directory_));
    }
}

String PackageWorkspace::nameOf(const DirectoryHandle& directory) const {
    return directory.path().substring(area_.path().length() + 1);
}

void PackageWorkspace::setAside(const String& name) {
    if (!aside_) {
        aside_.emplace(area_.freshSubdirectory(kPrefix));
    }
    directory_.moveFile(name, *aside_);
}

bool PackageWorkspace::removeDownload() const {
    return downloads_.removeTree(product_);
}
