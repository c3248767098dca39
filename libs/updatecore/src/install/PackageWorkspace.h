#pragma once

#include <optional>

#include "LmPackageInfo.h"
#include "String.h"
#include "io/DirectoryHandle.h"

// One package's private directory: made fresh (0700) in the install area,
// with the package file moved into it from the package's download
// directory, which is reached from the download directory's handle and
// never through a link. Unpacking, the member checks and the script work
// here, out of reach of whoever can rename a parent of the download
// directory. Removed with everything in it when the workspace goes, unless
// kept.
class PackageWorkspace {
public:
    // package.path must be DOWNLOADS/ID/VERSION, DOWNLOADS the path of
    // downloads. Raises UnsafePathException "PATH: REASON" when it is not or
    // the way to the file is a link or no directory or regular file,
    // IOException when the directory cannot be made or the file moved.
    PackageWorkspace(const DirectoryHandle& downloads, const DirectoryHandle& area,
                     const LmPackageInfo& package);
    ~PackageWorkspace();
    PackageWorkspace(const PackageWorkspace&) = delete;
    PackageWorkspace& operator=(const PackageWorkspace&) = delete;

    // Removes the private directories of area that a run cut off by a crash
    // or power cut left; only while the install lock is held, when no other
    // run has one. The number removed.
    static int removeLeftovers(const DirectoryHandle& area);

    // The private directory's path: the SOURCE of the package's script.
    const String& path() const { return directory_.path(); }
    // Removes the product's download directory (DOWNLOADS/ID) through the
    // handle; false when something stayed.
    bool removeDownload() const;
    // The private directory, opened.
    const DirectoryHandle& directory() const { return directory_; }
    // Moves the file name out of the private directory into a second one
    // beside it in the area, out of the script's sight, until the workspace
    // goes (whether the private directory is kept or not). Raises as
    // DirectoryHandle::moveFile does.
    void setAside(const String& name);
    // Where setAside() put the file; null before.
    const DirectoryHandle* aside() const { return aside_ ? &*aside_ : nullptr; }
    // The private directory is not removed (it was moved away or is still
    // in use).
    void keep() { kept_ = true; }

private:
    String nameOf(const DirectoryHandle& directory) const;  // in the area

    const DirectoryHandle& downloads_;
    const DirectoryHandle& area_;
    String product_;
    DirectoryHandle directory_;
    std::optional<DirectoryHandle> aside_;
    bool kept_ = false;
};
