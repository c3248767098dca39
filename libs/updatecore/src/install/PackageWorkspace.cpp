#include "install/PackageWorkspace.h"

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

}  // namespace

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
