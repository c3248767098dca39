#pragma once

#include <sys/types.h>

#include "String.h"
#include "Vector.h"
#include "io/FileDescriptor.h"

// An open directory from which what lies below it is created and opened
// by name, never through a link: once a directory is open and trusted, a
// link planted below it cannot redirect a write somewhere else.
class DirectoryHandle {
public:
    // Opens the directory at path, following links on the way (the path is
    // resolved once, here). Raises IOException when it cannot.
    static DirectoryHandle open(const String& path);

    // The subdirectory name, created with mode when missing, opened
    // without following a link. A directory made here is made durable in
    // this one before it is returned, so that what a later record says lies
    // in it survives a power cut. Raises UnsafePathException "PATH: REASON"
    // when name is a link or no directory, IOException when it cannot be
    // made, synced or opened.
    DirectoryHandle subdirectory(const String& name, mode_t mode = 0755) const;
    // The subdirectory name as subdirectory() opens it, but never made.
    DirectoryHandle existingSubdirectory(const String& name) const;
    // A new subdirectory of mode 0700 whose name is prefix and six random
    // letters or digits (as mkdtemp makes them). Raises IOException when
    // none can be made.
    DirectoryHandle freshSubdirectory(const String& prefix) const;

    // Removes the entry name with everything below it, never following a
    // link (a link is removed, not what it names); missing counts as
    // removed. False when something could not be removed.
    bool removeTree(const String& name) const;
    // Moves the regular file name into the directory to under the same
    // name, copying it (mode 0600) when the two lie on different file
    // systems; what arrives is the file opened here. Raises
    // UnsafePathException "PATH: REASON" when name is a link or no regular
    // file, IOException when it cannot be moved.
    void moveFile(const String& name, const DirectoryHandle& to) const;
    // Renames the regular file name to newName in the directory to, never
    // copying it. Raises as moveFile does, IOException "PATH: REASON" also
    // when the two lie on different file systems.
    void renameFile(const String& name, const DirectoryHandle& to, const String& newName) const;
    // Opens the regular file name for reading, never through a link;
    // raises as moveFile does.
    FileDescriptor openForReading(const String& name) const;

    // Opens the file name for writing (flags: O_TRUNC or O_APPEND, with
    // O_CREAT to create it with mode), never through a link. Raises
    // UnsafePathException "PATH: REASON" when name is a link or no regular
    // file, IOException when it cannot be opened.
    FileDescriptor openForWriting(const String& name, int flags, mode_t mode = 0644) const;

    // Makes the entries created, renamed or removed here durable (fsync).
    // Raises IOException "PATH: REASON" when it cannot.
    void sync() const;
    // Makes everything below durable: each regular file's data and each
    // directory's entries, this one last. Raises as sync() and syncFile() do.
    void syncTree() const;
    // Makes the data of the regular file name durable, never opening it
    // through a link; raises as openForReading does, IOException when it
    // cannot be synced.
    void syncFile(const String& name) const;

    // The names of the entries, "." and ".." left out. Raises IOException
    // when the directory cannot be read.
    Vector<String> entryNames() const;

    // Why this directory may be changed by someone other than root and the
    // effective user (another owner, writable by group or others); "" when
    // it may not.
    String untrustedReason() const;
    // Raises UnsafePathException with untrustedReason() when there is one.
    void requireTrusted() const;

    // Why the entry name is unsafe to write: a link, or anything but a
    // regular file; "" when it is a regular file or absent.
    String entryProblem(const String& name) const;

    const String& path() const { return path_; }

private:
    DirectoryHandle(FileDescriptor fd, String path) : fd_(std::move(fd)), path_(std::move(path)) {}
    String childPath(const String& name) const { return path_ + "/" + name; }
    FileDescriptor openRegular(const String& name, int flags, mode_t mode) const;
    [[noreturn]] void throwOpenFailure(const String& name, int error, int line) const;
    static bool removeEntries(const DirectoryHandle& directory);
    bool renameOpened(const FileDescriptor& source, const String& name, const DirectoryHandle& to,
                      const String& newName) const;
    static void copyFile(const FileDescriptor& from, const FileDescriptor& to,
                         const String& target);

    FileDescriptor fd_;
    String path_;
};
