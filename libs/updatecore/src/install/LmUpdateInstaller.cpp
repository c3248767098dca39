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
#include "install/ScriptEnvironment.h"
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
    log(labelLine(WIFSIGNALED(status) ? "Install7 " : "Install6 ", package));
}

void removeFile(const String& path) {
    std::error_code ignored;
    std::filesystem::remove(path.str(), ignored);
}

// A package whose content would reach outside its directory: logged,
// reported, and its product's download directory removed so that nothing of
// it is run or kept.
bool refuse(const LmPackageInfo& package, const String& reason) {
    PackageRefusal::report(package, reason);
    LmUpdateInstaller::removeProductDirectory(package.path);
    return false;
}

// What a failed unpacking left: nothing of the package is kept. False.
bool removeUnpacked(const LmPackageInfo& package) {
    LmUpdateInstaller::removeProductDirectory(package.path);
    return false;
}

// Unpacks a zip package: only its scripts when it is a large package (it
// holds "large_package_flag"), else the whole archive (which is then
// deleted). One listing answers that and refuses members that would land
// outside the directory; links are checked once unpacked (unzip makes them
// after every other member, so none was written through). False when
// unpacking failed or the package was refused.
bool unpackZip(const LmPackageInfo& package) {
    const String& directory = package.path;
    String archive = directory + "/" + package.file;
    ZipListing listing;
    if (!listing.read(archive)) {
        // Not an archive unzip can read: failed as unpacking it would.
        removeFile(archive);
        log(labelLine("Install5 ", package));
        return false;
    }
    const bool large = listing.contains("large_package_flag");
    const ZipListing::Extent extent =
        large ? listing.extent(kLargePackageScripts) : listing.extent();
    String refusal = listing.unpackRefusal(extent, directory);
    if (!refusal.isEmpty()) {
        return refuse(package, refusal);
    }
    if (large) {
        int status = ZipListing::unzip({"unzip", "-q", "-o", archive, "install", "readme",
                                        "install-package", "large_package_flag", "-d", directory},
                                       extent, labelLine("Install 2", package));
        if (!unzipSucceeded(status)) {
            log(labelLine("Install 3", package));
            return removeUnpacked(package);
        }
    } else {
        int status = ZipListing::unzip({"unzip", "-q", "-o", archive, "-d", directory}, extent,
                                       labelLine("Install4 ", package));
        removeFile(archive);
        if (!unzipSucceeded(status)) {
            log(labelLine("Install5 ", package));
            return removeUnpacked(package);
        }
    }
    String link = linkRefusal(directory);
    return link.isEmpty() || refuse(package, link);
}

// The install script must lie inside source; refuses the package when not.
bool scriptConfined(const LmPackageInfo& package, const String& source) {
    String reason = scriptRefusal(source, package.installScript);
    return reason.isEmpty() || refuse(package, reason);
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
            log("LmUpdate: " + e.getMessage());
        }
    }
    return count;
}

bool LmUpdateInstaller::installPackage(LmPackageInfo& package) {
    if (package.downloadResult != LmPackageInfo::kDownloaded) {
        log("LmUpdate: package file of '" + package.product.name + " (" + package.version.version +
            ") is invalid");
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
    log("LmUpdate: unsupported package format: " + package.format);
    return false;
}

bool LmUpdateInstaller::installZip(LmPackageInfo& package) {
    if (!unpackZip(package) || !scriptConfined(package, package.path)) {
        return false;
    }
    const String downloaded = package.path;  // deferring changes path
    int status = runScript(package, package.path);
    bool counted = false;
    bool keep = false;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        package.runResult = LmPackageInfo::kInstalled;
        counted = true;
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 1) {
        Deferral deferral = defer(package);
        counted = deferral != Deferral::Failed;
        keep = deferral != Deferral::Moved;
    } else {
        logScriptFailure(status, package);
    }
    if (!keep) {
        removeProductDirectory(downloaded);
    }
    return counted;
}

LmUpdateInstaller::Deferral LmUpdateInstaller::defer(LmPackageInfo& package) {
    const String directory = package.path;
    int slash = directory.lastIndexOf('/');
    String target = installRoot() + parentOf(directory);
    log("move path " + target + " " + decimalText(slash));
    if (slash <= 0) {
        // The target would be the installation root itself, which the next
        // step empties.
        log("LmUpdate: cannot defer a package without a parent directory: " + directory);
        return Deferral::Failed;
    }
    if (encloses(target, directory)) {
        // The package already lies where it is to stay (an empty or "/"
        // root): removing the target would delete the package itself.
        package.runResult = LmPackageInfo::kDeferred;
        return Deferral::InPlace;
    }
    if (!removeTree(target)) {
        log("rm path " + target + ") failed");
    }
    log("rm path " + target + ") success");
    if (ChildProcess::run(kMkdir, {"mkdir", "-p", target}, "mkdir path " + target + ") failed") !=
        0) {
        log("mdir path " + target + ") failed");
        return Deferral::Failed;
    }
    if (ChildProcess::run(kMv, {"mv", "-f", directory, target},
                          "move path " + directory + ") failed") != 0) {
        log("move path " + directory + ") failed");
        return Deferral::Failed;
    }
    log("move path " + directory + ") success");
    package.runResult = LmPackageInfo::kDeferred;
    package.path = target + directory.substring(slash);  // where mv put it
    return Deferral::Moved;
}

bool LmUpdateInstaller::installImage(LmPackageInfo& package) {
    const String mountPoint = package.path + "/" + "tmp";
    std::error_code error;
    std::filesystem::create_directories(mountPoint.str(), error);
    if (error) {
        log("LmUpdate: cannot create tmp dir for mount point: " + mountPoint);
        return false;
    }
    ChildProcess::run(kUmount, {"umount", mountPoint}, labelLine("Install 0(umount)", package));
    String image = package.path + "/" + package.file;
    if (ChildProcess::run(kMount, mountArguments(image, mountPoint),
                          labelLine("Install 1(mount)", package)) != 0) {
        log(labelLine("Install 2(mount)", package));
        return false;
    }
    String reason = scriptRefusal(mountPoint, package.installScript);
    if (!reason.isEmpty()) {
        ChildProcess::run(kUmount, {"umount", mountPoint}, labelLine("Install 1(umount)", package));
        return refuse(package, reason);
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
        logScriptFailure(status, package);
    }
    if (ChildProcess::run(kUmount, {"umount", mountPoint},
                          labelLine("Install 1(umount)", package)) != 0) {
        log(labelLine("Install 2(umount)", package));
        return counted;
    }
    removeProductDirectory(package.path);
    return counted;
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
    log("Install " + package.product.desc + " (" + package.version.version + ") failed");
    return std::nullopt;
}

bool LmUpdateInstaller::removeProductDirectory(const String& packageDirectory) {
    String directory = parentOf(packageDirectory);
    if (removeTree(directory)) {
        return true;
    }
    log("removing temporary directory: " + directory + " failed");
    return false;
}
