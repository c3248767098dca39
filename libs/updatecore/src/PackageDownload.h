#pragma once

#include "FileDownload.h"
#include "LmPackageInfo.h"
#include "SessionState.h"
#include "String.h"

// The download run of an update: every announced package into its product's
// download directory, each checked against its digest, failed ones
// discarded so that the next run starts them afresh.
class PackageDownload {
public:
    explicit PackageDownload(SessionState& state) : state_(state) {}

    // Downloads every package of the session; the number accepted (each
    // marked with downloadResult 1).
    int run();

    // False when no server delivered the file; true when it was stored whole
    // or when the transfer broke off (the partial file may then be kept).
    bool downloadFile(const DownloadTarget& target);

    // Steps the firmware download shares.

    // The download directory of a package and its file name from its url.
    static String packageDirectory(const String& downloadDir, const LmPackageInfo& package);
    static String packageFileName(const String& url);
    // Why a package must not be fetched (its numbers do not fit, or its
    // version or file name cannot be one path component); "" when it may.
    static String refusalOf(const LmPackageInfo& package);
    // "LmUpdate: package refused: URL: REASON" to the log.
    static void logRefusal(const LmPackageInfo& package, const String& reason);
    // Lower-case hexadecimal MD5 of a file, logged ("" when unreadable).
    static String loggedDigest(const String& path);
    // Takes the install path of the installed product and marks the
    // package downloaded.
    static void markDownloaded(LmPackageInfo& package);

private:
    bool downloadPackage(LmPackageInfo& package);
    bool acceptPackage(LmPackageInfo& package, const String& localFile);
    // Logs the refusal, reports the package error and removes the
    // product's download directory.
    void refusePackage(const LmPackageInfo& package, const String& reason);
    void discardDownload(const LmPackageInfo& failed, const String& localFile);

    SessionState& state_;
};
