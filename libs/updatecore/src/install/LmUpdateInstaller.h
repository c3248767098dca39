#pragma once

#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"

class InputStream;

// Installs downloaded packages: unpacks a zip archive or loop-mounts an image,
// runs the package's install script, and records in each package whether it
// was installed (runResult kInstalled) or deferred (kDeferred, path moved below the
// installation root). Outside programs run as child processes, one at a time.
class LmUpdateInstaller {
public:
    // Reads the packages of a package-list document (its root holds the
    // PackageInfo elements); a document that is not well formed gives none.
    explicit LmUpdateInstaller(const String& document);
    explicit LmUpdateInstaller(InputStream& document);
    explicit LmUpdateInstaller(Vector<LmPackageInfo> packages);
    virtual ~LmUpdateInstaller() = default;

    // Installs every package in list order; returns how many were installed
    // or deferred. Never throws: each failure is logged and the next package
    // is handled.
    int installAll();

    // Runs the "install-package" script of a deferred package; 0, 1 or 2 as
    // the script exited, none when it failed otherwise or was killed.
    static std::optional<int> runInstallPackage(const LmPackageInfo& package);

    // Removes the directory holding a package directory (the product's
    // download or deferral directory) with everything under it; logs and
    // returns false when that fails. Never removes "/" or an empty path.
    static bool removeProductDirectory(const String& packageDirectory);

    // The argument vector of mount for an image package.
    static Vector<String> mountArguments(const String& image, const String& mountPoint);

    const Vector<LmPackageInfo>& getPackages() const { return packages_; }
    Vector<LmPackageInfo>& getPackages() { return packages_; }

private:
    enum class Deferral { Failed, Moved, InPlace };

    bool installPackage(LmPackageInfo& package);
    bool installZip(LmPackageInfo& package);
    bool installImage(LmPackageInfo& package);
    Deferral defer(LmPackageInfo& package);

    Vector<LmPackageInfo> packages_;
};
