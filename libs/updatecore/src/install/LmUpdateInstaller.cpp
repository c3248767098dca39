#include "install/LmUpdateInstaller.h"

#include <sys/wait.h>

#include <filesystem>
#include <system_error>

#include "ChildProcess.h"
#include "InstallRoot.h"
#include "StateDocument.h"
#include "StopSignals.h"
#include "SystemLog.h"
#include "Utils.h"
#include "install/InstallArea.h"
#include "install/PackageWorkspace.h"
#include "install/ScriptEnvironment.h"
#include "install/SeedCache.h"
#include "install/ZipListing.h"
#include "report/Report.h"
#include "trust/PackageConfinement.h"
#include "trust/PackageRefusal.h"
#include "trust/SigningKey.h"

namespace {

constexpr const char kMount[] = "/bin/mount";
constexpr const char kUmount[] = "/bin/umount";
constexpr const char kMkdir[] = "/bin/mkdir";
constexpr const char kMv[] = "/bin/mv";
// What a large package unpacks (the arguments of its unzip below); its
// script reads the rest from the archive.
const Vector<String> kLargePackageScripts{"install", "readme", "install-package",
                                          "large_package_flag"};
constexpr const char kUnsafePath[] = "unsafe download path: ";
// The wait status of a script that could not be started.
constexpr int kNotStarted = -1;

// label + desc + " (" + version + ") failed", the installer's failure lines.
String labelLine(const char* label, const LmPackageInfo& package) {
    return String(label) + package.product.desc + " (" + package.version.toString() + ") failed";
}

// The part after the last "/", unless that "/" is the leading one.
String argumentZero(const String& path) {
    int slash = path.lastIndexOf('/');
    return slash > 0 ? path.substring(slash + 1) : path;
}

// The directory up to its last "/" ("" when there is none).
String parentOf(const String& path) {
    int slash = path.lastIndexOf('/');
    return slash < 0 ? String() : path.substring(0, slash);
}

// What the deferred list will name must survive a power cut before the list
// does: the files unpacked (the later install-package reads them), the
// directory moved in, and the directories mkdir -p made above it up to the
// installation root.
bool madeDurable(const String& deferred) {
    try {
        DirectoryHandle::open(deferred).syncTree();
        const String root = installRoot();
        for (String directory = parentOf(deferred);
             !directory.isEmpty() && directory.length() >= root.length();
             directory = parentOf(directory)) {
            DirectoryHandle::open(directory).sync();
        }
        return true;
    } catch (const IOException& e) {
        logError("LmUpdate: cannot write " + e.getMessage());
        return false;
    }
}

Vector<String> scriptArguments(const String& script, const LmPackageInfo& package,
                               const String& source) {
    Vector<String> arguments{argumentZero(script)};
    if (!package.product.installPath.isEmpty()) {
        arguments.add("-d");
        arguments.add(package.product.installPath);
    }
    arguments.add("-s");
    arguments.add(source);
    return arguments;
}

// unzip is judged on the raw wait status; a child killed by a signal (even
// SIGHUP, whose raw status is 1) has not unpacked anything usable.
bool unzipSucceeded(int status) {
    return status >= 0 && status < 2 && !WIFSIGNALED(status);
}

// The absolute, normalised form of path, links resolved where they exist.
std::filesystem::path normalPath(const String& path) {
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(path.str(), error);
    std::filesystem::path canonical = std::filesystem::weakly_canonical(absolute, error);
    return (error ? absolute : canonical).lexically_normal();
}

// Removes a directory tree; refuses empty paths and the file-system root
// however it is spelt ("//", "/.."), which a damaged package list could
// otherwise make us delete.
bool removeTree(const String& directory) {
    if (directory.isEmpty() || normalPath(directory).relative_path().empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::remove_all(directory.str(), error);
    return !error;
}

// True when removing directory would also remove path: directory is path
// itself or one of its parents, however the two are spelt ("//a", "a/../a",
// links). An empty or "/" installation root makes the deferral target such
// a parent of the package.
bool encloses(const String& directory, const String& path) {
    std::filesystem::path relative = normalPath(path).lexically_relative(normalPath(directory));
    return !relative.empty() && *relative.begin() != "..";
}

// An install script gets only its own environment, and a process group of
// its own: a stop sent to our group (a service stop) reaches us, and we let
// the script finish before we end.
void confineScript(ChildProcess& script) {
    script.setEnvironment(ScriptEnvironment::entries());
    script.startOwnProcessGroup();
}

int runScript(const LmPackageInfo& package, const String& source,
              const String& startFailureLine = String(),
              ChildProcess::StartFailureHook hook = nullptr) {
    String script = replaceAll(source + "/" + package.installScript, '\\', '/');
    ChildProcess child(script, scriptArguments(script, package, source));
    child.setStartFailureLine(startFailureLine);
    child.setStartFailureHook(std::move(hook));
    confineScript(child);
    return child.start() ? child.wait() : -1;
}

// Logs the failure of an install script that did not exit with a status the
// caller accepts: "Install6 " after an exit, "Install7 " after a signal.
void logScriptFailure(int status, const LmPackageInfo& package) {
    logError(labelLine(WIFSIGNALED(status) ? "Install7 " : "Install6 ", package));
}

void removeFile(const String& path) {
    std::error_code ignored;
    std::filesystem::remove(path.str(), ignored);
}

// A package whose content would reach outside its directory: logged,
// reported, and its product's download directory removed so that nothing of
// it is run or kept (its private directory goes with the workspace).
bool refuse(const LmPackageInfo& package, const PackageWorkspace& work, const String& reason) {
    PackageRefusal::report(package, reason);
    work.removeDownload();
    return false;
}

// What a failed unpacking left: nothing of the package is kept (what was
// unpacked goes with the private directory). False.
bool removeUnpacked(const PackageWorkspace& work) {
    work.removeDownload();
    return false;
}

// An unpacked archive is no longer needed: set aside to become its
// product's seed when seeds are kept, else removed.
void putArchiveAway(const LmPackageInfo& package, PackageWorkspace& work, bool forSeed) {
    if (forSeed) {
        try {
            work.setAside(package.file);
            return;
        } catch (const IOException& e) {
            logWarning("LmUpdate: no seed kept: " + e.getMessage());
        }
    }
    removeFile(work.path() + "/" + package.file);
}

// Unpacks a zip package: only its scripts when it is a large package (it
// holds "large_package_flag"), else the whole archive (which is then put
// away), in the private directory. One listing answers that and refuses
// members that would land outside the directory; links are checked once
// unpacked (unzip makes them after every other member, so none was written
// through). False when unpacking failed or the package was refused.
bool unpackZip(const LmPackageInfo& package, PackageWorkspace& work, bool forSeed) {
    const String& directory = work.path();
    String archive = directory + "/" + package.file;
    ZipListing listing;
    if (!listing.read(archive)) {
        // Not an archive unzip can read: failed as unpacking it would.
        removeFile(archive);
        logError(labelLine("Install5 ", package));
        return false;
    }
    const bool large = listing.contains("large_package_flag");
    const ZipListing::Extent extent =
        large ? listing.extent(kLargePackageScripts) : listing.extent();
    String refusal = listing.unpackRefusal(extent, directory);
    if (!refusal.isEmpty()) {
        return refuse(package, work, refusal);
    }
    if (large) {
        int status = ZipListing::unzip({"unzip", "-q", "-o", archive, "install", "readme",
                                        "install-package", "large_package_flag", "-d", directory},
                                       extent, labelLine("Install 2", package));
        if (!unzipSucceeded(status)) {
            logError(labelLine("Install 3", package));
            return removeUnpacked(work);
        }
    } else {
        int status = ZipListing::unzip({"unzip", "-q", "-o", archive, "-d", directory}, extent,
                                       labelLine("Install4 ", package));
        putArchiveAway(package, work, forSeed);
        if (!unzipSucceeded(status)) {
            logError(labelLine("Install5 ", package));
            return removeUnpacked(work);
        }
    }
    String link = linkRefusal(directory);
    return link.isEmpty() || refuse(package, work, link);
}

// The install script must lie inside the private directory; refuses the
// package when not.
bool scriptConfined(const LmPackageInfo& package, const PackageWorkspace& work) {
    String reason = scriptRefusal(work.path(), package.installScript);
    return reason.isEmpty() || refuse(package, work, reason);
}

// The packages of a package-list document (its root's children); none when
// it is not well formed.
template <typename Document>
void readPackageList(Document& document, Vector<LmPackageInfo>& packages) {
    StateDocument list;
    if (list.parse(document)) {
        list.readPackageInfoList(packages, true);
    }
}

}  // namespace

LmUpdateInstaller::LmUpdateInstaller(const String& document) {
    readPackageList(document, packages_);
}

LmUpdateInstaller::LmUpdateInstaller(InputStream& document) {
    readPackageList(document, packages_);
}

LmUpdateInstaller::LmUpdateInstaller(Vector<LmPackageInfo> packages)
    : packages_(std::move(packages)) {}

int LmUpdateInstaller::installAll() {
    int count = 0;
    for (LmPackageInfo& package : packages_) {
        if (StopSignals::requested()) {
            break;  // the script that ran has ended; no further one starts
        }
        try {
            if (installPackage(package)) {
                ++count;
            }
        } catch (const Exception& e) {
            // A damaged record must not stop the packages after it.
            logError("LmUpdate: " + e.getMessage());
        }
    }
    return count;
}

bool LmUpdateInstaller::installPackage(LmPackageInfo& package) {
    if (package.downloadResult != LmPackageInfo::kDownloaded) {
        logError("LmUpdate: package file of '" + package.product.name + " (" +
                 package.version.version + ") is invalid");
        return false;
    }
    log("Install " + package.product.desc + " ...");
    SigningKey::warnIfUnchecked(package);
    if (package.format.equalsIgnoreCase("zip")) {
        return installZip(package);
    }
    if (package.format.equalsIgnoreCase("img")) {
        return installImage(package);
    }
    logError("LmUpdate: unsupported package format: " + package.format);
    return false;
}

void LmUpdateInstaller::keepSeeds(int64_t capBytes) {
    seedCap_ = capBytes;
}

void LmUpdateInstaller::usePlaces(DirectoryHandle downloads, DirectoryHandle area) {
    downloads_.emplace(std::move(downloads));
    area_.emplace(std::move(area));
    placesGiven_ = true;
}

// Without the run's places, the download directory is the package
// directory's grandparent, opened now, and the area is opened once.
std::optional<PackageWorkspace> LmUpdateInstaller::workspace(const LmPackageInfo& package) {
    try {
        if (!placesGiven_) {
            downloads_.emplace(DirectoryHandle::open(parentOf(parentOf(package.path))));
        }
        if (!area_) {
            area_.emplace(InstallArea::open());
        }
        return std::optional<PackageWorkspace>(std::in_place, *downloads_, *area_, package);
    } catch (const UnsafePathException& e) {
        PackageRefusal::report(package, kUnsafePath + e.getMessage());
    } catch (const IOException& e) {
        logError("LmUpdate: " + e.getMessage());
        logError(labelLine("Install5 ", package));
    }
    return std::nullopt;
}

bool LmUpdateInstaller::installZip(LmPackageInfo& package) {
    std::optional<PackageWorkspace> work = workspace(package);
    if (!work || !unpackZip(package, *work, seedCap_.has_value()) ||
        !scriptConfined(package, *work)) {
        return false;
    }
    int status = runScript(package, work->path());
    // Gone before a deferral, whose target may be this very directory.
    work->removeDownload();
    if (!enterOutcome(package, *work, status)) {
        return false;
    }
    keepSeed(package, *work);
    return true;
}

// Exit status 0: installed; 1: deferred; anything else failed.
bool LmUpdateInstaller::enterOutcome(LmPackageInfo& package, PackageWorkspace& work, int status) {
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        package.runResult = LmPackageInfo::kInstalled;
        return true;
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
        return defer(package, work);
    }
    scriptFailed(status, package);
    return false;
}

// A script that could not be started (fork failed) says nothing about the
// package.
void LmUpdateInstaller::scriptFailed(int status, const LmPackageInfo& package) {
    logScriptFailure(status, package);
    if (status != kNotStarted) {
        scriptFailures_.add(package);
    }
}

// The package file becomes its product's seed. A deferred package enters
// the inventory only at a later --delay install, by when its file would be
// gone, so it is taken at the deferral. A deferred large package's archive
// stays where its install-package will read it.
void LmUpdateInstaller::keepSeed(const LmPackageInfo& package, const PackageWorkspace& work) {
    const DirectoryHandle* aside = work.aside();
    if (!seedCap_ || (aside == nullptr && package.runResult == LmPackageInfo::kDeferred)) {
        return;
    }
    if (!seeds_) {
        try {
            seeds_.emplace(SeedCache::open(*seedCap_));
        } catch (const IOException& e) {
            logWarning("LmUpdate: no seed kept: " + e.getMessage());
            return;
        }
    }
    seeds_->keep(package.product.id, aside != nullptr ? *aside : work.directory(), package.file);
}

// Moves the private directory to ROOT + the package directory's path,
// logging each step as installers always have.
bool LmUpdateInstaller::defer(LmPackageInfo& package, PackageWorkspace& work) {
    const String directory = package.path;
    int slash = directory.lastIndexOf('/');
    String target = installRoot() + parentOf(directory);
    log("move path " + target + " " + decimalText(slash));
    if (slash <= 0) {
        // The target would be the installation root itself, which the next
        // step empties.
        logError("LmUpdate: cannot defer a package without a parent directory: " + directory);
        return false;
    }
    if (encloses(target, work.path())) {
        logError("LmUpdate: cannot defer a package into its own install area: " + target);
        return false;
    }
    if (!removeTree(target)) {
        logError("rm path " + target + ") failed");
    }
    log("rm path " + target + ") success");
    if (ChildProcess::run(kMkdir, {"mkdir", "-p", target}, "mkdir path " + target + ") failed") !=
        0) {
        logError("mdir path " + target + ") failed");
        return false;
    }
    String deferred = target + directory.substring(slash);
    if (ChildProcess::run(kMv, {"mv", "-f", "-T", work.path(), deferred},
                          "move path " + work.path() + ") failed") != 0) {
        logError("move path " + work.path() + ") failed");
        return false;
    }
    log("move path " + work.path() + ") success");
    work.keep();
    if (!madeDurable(deferred)) {
        return false;
    }
    package.runResult = LmPackageInfo::kDeferred;
    package.path = deferred;
    return true;
}

bool LmUpdateInstaller::installImage(LmPackageInfo& package) {
    std::optional<PackageWorkspace> work = workspace(package);
    if (!work) {
        return false;
    }
    const String mountPoint = work->path() + "/" + "tmp";
    std::error_code error;
    std::filesystem::create_directories(mountPoint.str(), error);
    if (error) {
        logError("LmUpdate: cannot create tmp dir for mount point: " + mountPoint);
        return false;
    }
    String image = work->path() + "/" + package.file;
    if (ChildProcess::run(kMount, mountArguments(image, mountPoint),
                          labelLine("Install 1(mount)", package)) != 0) {
        log(labelLine("Install 2(mount)", package));
        return false;
    }
    String reason = scriptRefusal(mountPoint, package.installScript);
    if (!reason.isEmpty()) {
        releaseMount(mountPoint, package, *work);
        return refuse(package, *work, reason);
    }
    // A script that cannot start still must not leave the image mounted.
    String umountFailure = labelLine("Install 5(umount)", package);
    int status = runScript(package, mountPoint, labelLine("Install5 ", package),
                           [&mountPoint, &umountFailure](int) {
                               ChildProcess::run(kUmount, {"umount", mountPoint}, umountFailure);
                           });
    bool counted = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (counted) {
        package.runResult = LmPackageInfo::kInstalled;
    } else {
        scriptFailed(status, package);
    }
    if (releaseMount(mountPoint, package, *work)) {
        work->removeDownload();
        if (counted) {
            keepSeed(package, *work);
        }
    }
    return counted;
}

// Unmounts the image; a directory still mounted is kept, never removed
// through the mount.
bool LmUpdateInstaller::releaseMount(const String& mountPoint, const LmPackageInfo& package,
                                     PackageWorkspace& work) {
    if (ChildProcess::run(kUmount, {"umount", mountPoint},
                          labelLine("Install 1(umount)", package)) == 0) {
        return true;
    }
    log(labelLine("Install 2(umount)", package));
    work.keep();
    return false;
}

Vector<String> LmUpdateInstaller::mountArguments(const String& image, const String& mountPoint) {
    // Read-only, and nothing on the image can gain privileges or reach devices
    // other than through the install script.
    return {"mount", "-o", "loop,ro,nosuid,nodev", image, mountPoint};
}

std::optional<int> LmUpdateInstaller::runInstallPackage(const LmPackageInfo& package) {
    String script = replaceAll(package.path + "/" + "install-package", '\\', '/');
    ChildProcess child(script, scriptArguments(script, package, package.path));
    child.setStartFailureLine("execl:" + script);
    confineScript(child);
    int status = child.start() ? child.wait() : kNotStarted;
    log("install script exit status: " + decimalText(status) + "/" +
        decimalText((status >> 8) & 0xff));
    if (status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) <= 2) {
        return WEXITSTATUS(status);
    }
    logError("Install " + package.product.desc + " (" + package.version.version + ") failed");
    return std::nullopt;
}

bool LmUpdateInstaller::removeProductDirectory(const String& packageDirectory) {
    String directory = parentOf(packageDirectory);
    if (removeTree(directory)) {
        return true;
    }
    logError("removing temporary directory: " + directory + " failed");
    return false;
}
