#pragma once

#include <cstdint>
#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "install/SeedCache.h"
#include "io/DirectoryHandle.h"

class InputStream;
class PackageWorkspace;

// Installs downloaded packages: moves each package file from its download
// directory into a fresh private directory (PackageWorkspace), unpacks the
// zip archive or loop-mounts the image there, runs the package's install
// script, and records in each package whether it was installed (runResult
// kInstalled) or deferred (kDeferred, the private directory moved below the
// installation root). Outside programs run as child processes, one at a
// time.
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
    // The run's download directory and install area, opened when its paths
    // were checked; the package directories are reached from them. Without
    // them each package's download directory is its path's grandparent and
    // the area is opened at the first package.
    void usePlaces(DirectoryHandle downloads, DirectoryHandle area);
    // Each package file installed or deferred becomes its product's seed
    // (SeedCache, capped at capBytes); without this call none is kept.
    void keepSeeds(int64_t capBytes);

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
    // The packages whose install script ran and failed.
    const Vector<LmPackageInfo>& scriptFailures() const { return scriptFailures_; }
    Vector<LmPackageInfo>& getPackages() { return packages_; }

private:
    bool installPackage(LmPackageInfo& package);
    std::optional<PackageWorkspace> workspace(const LmPackageInfo& package);
    bool installZip(LmPackageInfo& package);
    bool installImage(LmPackageInfo& package);
    static bool releaseMount(const String& mountPoint, const LmPackageInfo& package,
                             PackageWorkspace& work);
    static bool defer(LmPackageInfo& package, PackageWorkspace& work);
    bool enterOutcome(LmPackageInfo& package, PackageWorkspace& work, int status);
    void scriptFailed(int status, const LmPackageInfo& package);
    void keepSeed(const LmPackageInfo& package, const PackageWorkspace& work);

    Vector<LmPackageInfo> packages_;
    Vector<LmPackageInfo> scriptFailures_;
    std::optional<DirectoryHandle> downloads_;
    std::optional<DirectoryHandle> area_;
    bool placesGiven_ = false;
    std::optional<int64_t> seedCap_;
    std::optional<SeedCache> seeds_;
};
