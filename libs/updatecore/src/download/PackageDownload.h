#pragma once

#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "download/DownloadTree.h"
#include "download/FileDownload.h"
#include "session/SessionState.h"
#include "trust/PackageTrust.h"
#include "trust/StreamingDigest.h"

// The download run of an update: every announced package into its product's
// download directory, each checked against its digest, failed ones
// discarded so that the next run starts them afresh.
class PackageDownload {
public:
    explicit PackageDownload(SessionState& state) : state_(state), tree_(state.downloadDir) {}

    // Downloads every package of the session; the number accepted (each
    // marked with downloadResult 1).
    int run();

    // What FileDownload::run gives for the file: kStored, kBrokeOff (the
    // partial file may then be kept), kRefused with refusal set, or a
    // failure when no server delivered it. The file's digest is computed
    // while it arrives.
    int downloadFile(DownloadTarget target, String& refusal);

    // Steps the firmware download shares.

    // The download directory of a package and its file name from its url.
    static String packageDirectory(const String& downloadDir, const LmPackageInfo& package);
    static String packageFileName(const String& url);
    // Why a package must not be fetched (its numbers do not fit, or its
    // version or file name cannot be one path component); "" when it may.
    static String refusalOf(const LmPackageInfo& package);
    // Lower-case hexadecimal MD5 of a file, logged ("" when unreadable):
    // streamed's when it covers the whole file, else read from the file.
    static String loggedDigest(const String& path, StreamingDigest* streamed = nullptr);
    // Takes the install path of the installed product and marks the
    // package downloaded.
    static void markDownloaded(LmPackageInfo& package);
    // Why a whole downloaded file is refused (MD5, then what trust checks),
    // or "".
    static String fileProblem(const PackageTrust& trust, const LmPackageInfo& package,
                              const String& localFile, StreamingDigest* streamed = nullptr);

private:
    bool downloadPackage(LmPackageInfo& package);
    std::optional<DirectoryHandle> preparePackageDirectory(LmPackageInfo& package);
    bool acceptPackage(LmPackageInfo& package, const String& localFile);

    SessionState& state_;
    DownloadTree tree_;
    PackageTrust trust_;
    StreamingDigest digest_;
};
