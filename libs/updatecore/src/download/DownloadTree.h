#pragma once

#include <cstdint>
#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "io/DirectoryHandle.h"

// The download directory of a run and the package directories below it:
// DIR/ID/VERSION, with "_" for each "." of the version text. The download
// directory is resolved once (made when missing, its parents not checked);
// below it the product and version directories are made and opened
// relative to their parents, never through a link. Each of them must
// be owned by root or the effective user and writable by no one else:
// whoever can plant a link or a file there could make the run overwrite
// any file.
class DownloadTree {
public:
    explicit DownloadTree(String downloadDir) : path_(std::move(downloadDir)) {}

    // Where the package's directory is.
    String packagePath(const LmPackageInfo& package) const;
    // Removes the product's directory with everything below it: nothing of
    // a discarded download is resumed or installed later.
    void removeProduct(int32_t id) const;

    // Removes the regular file at path (nothing for "" or anything else).
    static void removeFile(const String& path);

    // The package's directory, made when missing. Without one, unsafe says
    // why the package must be refused ("unsafe download path: PATH:
    // REASON"), or is empty when the directory just could not be made.
    std::optional<DirectoryHandle> packageDirectory(const LmPackageInfo& package, String& unsafe);
    // Why the file name in directory must not be written (a link, not a
    // regular file), in the same form; "" when it may.
    static String fileProblem(const DirectoryHandle& directory, const String& name);

private:
    String productPath(int32_t id) const;
    static String versionName(const String& version);
    // The download directory, opened on first use.
    const DirectoryHandle& root();
    static DirectoryHandle trustedSubdirectory(const DirectoryHandle& parent, const String& name);

    String path_;
    std::optional<DirectoryHandle> root_;
};
