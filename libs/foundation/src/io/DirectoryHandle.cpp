#include "io/DirectoryHandle.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <random>

#include "Exception.h"
#include "Vector.h"

namespace {
constexpr const char* kSource = "DirectoryHandle";
constexpr char kNameLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
constexpr int kFreshAttempts = 100;

IOException failure(const String& path, const String& reason, int line) {
    return IOException(path + ": " + reason, kSource, line);
}

}  // namespace

// What an open of name refused for. O_NOFOLLOW makes a final link fail
// with ELOOP (ENOTDIR with O_DIRECTORY), O_DIRECTORY a non-directory with
// ENOTDIR; a directory opened for writing gives EISDIR, a FIFO without a
// reader ENXIO (O_NONBLOCK). Each means something was put where it does not
// belong.
void DirectoryHandle::throwOpenFailure(const String& name, int error, int line) const {
    struct stat status {};
    bool planted = error == ELOOP || error == ENOTDIR || error == EISDIR || error == ENXIO;
    if (!planted) {
        throw failure(childPath(name), std::strerror(error), line);
    }
    bool link = ::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
                S_ISLNK(status.st_mode);
    const char* reason = link               ? "a link"
                         : error == ENOTDIR ? "not a directory"
                                            : "not a regular file";
    throw UnsafePathException(childPath(name) + ": " + reason, kSource, line);
}

DirectoryHandle DirectoryHandle::open(const String& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.isOpen()) {
        throw failure(path, std::strerror(errno), __LINE__);
    }
    return DirectoryHandle(std::move(fd), path);
}

DirectoryHandle DirectoryHandle::subdirectory(const String& name, mode_t mode) const {
    bool created = ::mkdirat(fd_.get(), name.c_str(), mode) == 0;
    if (!created && errno != EEXIST) {
        throw failure(childPath(name), std::strerror(errno), __LINE__);
    }
    FileDescriptor fd(
        ::openat(fd_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) {
        throwOpenFailure(name, errno, __LINE__);
    }
    if (created) {
        ::fchmod(fd.get(), mode);  // whatever the umask
        sync();
    }
    return DirectoryHandle(std::move(fd), childPath(name));
}

void DirectoryHandle::sync() const {
    if (::fsync(fd_.get()) != 0) {
        throw failure(path_, std::strerror(errno), __LINE__);
    }
}

void DirectoryHandle::syncTree() const {
    for (const String& name : entryNames()) {
        struct stat status {};
        if (::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
            throw failure(childPath(name), std::strerror(errno), __LINE__);
        }
        if (S_ISDIR(status.st_mode)) {
            existingSubdirectory(name).syncTree();
        } else if (S_ISREG(status.st_mode)) {
            syncFile(name);
        }
    }
    sync();
}

void DirectoryHandle::syncFile(const String& name) const {
    FileDescriptor fd = openForReading(name);
    if (::fsync(fd.get()) != 0) {
        throw failure(childPath(name), std::strerror(errno), __LINE__);
    }
}

FileDescriptor DirectoryHandle::openForWriting(const String& name, int flags, mode_t mode) const {
    return openRegular(name, O_WRONLY | flags, mode);
}

FileDescriptor DirectoryHandle::openForReading(const String& name) const {
    return openRegular(name, O_RDONLY, 0);
}

// O_NONBLOCK: a FIFO planted there must not block the open (it has no
// effect on a regular file).
FileDescriptor DirectoryHandle::openRegular(const String& name, int flags, mode_t mode) const {
    FileDescriptor fd(
        ::openat(fd_.get(), name.c_str(), O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | flags, mode));
    if (!fd.isOpen()) {
        throwOpenFailure(name, errno, __LINE__);
    }
    struct stat status {};
    if (::fstat(fd.get(), &status) != 0 || !S_ISREG(status.st_mode)) {
        throw UnsafePathException(childPath(name) + ": not a regular file", kSource, __LINE__);
    }
    return fd;
}

String DirectoryHandle::untrustedReason() const {
    struct stat status {};
    if (::fstat(fd_.get(), &status) != 0) {
        return path_ + ": " + std::strerror(errno);
    }
    if (status.st_uid != 0 && status.st_uid != ::geteuid()) {
        return (path_ + ": owned by uid ").append(static_cast<long>(status.st_uid));
    }
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        return path_ + ": writable by group or others";
    }
    return String();
}

void DirectoryHandle::requireTrusted() const {
    String reason = untrustedReason();
    if (!reason.isEmpty()) {
        throw UnsafePathException(reason, "DirectoryHandle", __LINE__);
    }
}

String DirectoryHandle::entryProblem(const String& name) const {
    struct stat status {};
    if (::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? String() : childPath(name) + ": " + std::strerror(errno);
    }
    if (S_ISLNK(status.st_mode)) {
        return childPath(name) + ": a link";
    }
    return S_ISREG(status.st_mode) ? String() : childPath(name) + ": not a regular file";
}

DirectoryHandle DirectoryHandle::existingSubdirectory(const String& name) const {
    FileDescriptor fd(
        ::openat(fd_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) {
        throwOpenFailure(name, errno, __LINE__);
    }
    return DirectoryHandle(std::move(fd), childPath(name));
}

DirectoryHandle DirectoryHandle::freshSubdirectory(const String& prefix) const {
    std::random_device random;
    for (int attempt = 0; attempt < kFreshAttempts; ++attempt) {
        String name = prefix;
        for (int i = 0; i < 6; ++i) {
            name.append(kNameLetters[random() % (sizeof(kNameLetters) - 1)]);
        }
        if (::mkdirat(fd_.get(), name.c_str(), 0700) == 0) {
            return existingSubdirectory(name);
        }
        if (errno != EEXIST) {
            throw failure(childPath(name), std::strerror(errno), __LINE__);
        }
    }
    throw failure(childPath(prefix + "XXXXXX"), "no free name", __LINE__);
}

// Depth first, each directory opened below its parent without following a
// link, so that a link planted inside is removed and what it names is not.
bool DirectoryHandle::removeTree(const String& name) const {
    struct stat status {};
    if (::fstatat(fd_.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT;
    }
    if (!S_ISDIR(status.st_mode)) {
        return ::unlinkat(fd_.get(), name.c_str(), 0) == 0 || errno == ENOENT;
    }
    bool emptied = removeEntries(existingSubdirectory(name));
    return (::unlinkat(fd_.get(), name.c_str(), AT_REMOVEDIR) == 0 || errno == ENOENT) && emptied;
}

Vector<String> DirectoryHandle::entryNames() const {
    int fd = ::dup(fd_.get());
    DIR* stream = fd < 0 ? nullptr : ::fdopendir(fd);
    if (stream == nullptr) {
        int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw failure(path_, std::strerror(error), __LINE__);
    }
    std::unique_ptr<DIR, int (*)(DIR*)> closer(stream, ::closedir);
    ::rewinddir(stream);  // the duplicate shares the position of earlier reads
    Vector<String> names;
    while (const dirent* entry = ::readdir(stream)) {
        String name(entry->d_name);
        if (name != "." && name != "..") {
            names.add(name);
        }
    }
    return names;
}

bool DirectoryHandle::removeEntries(const DirectoryHandle& directory) {
    Vector<String> names;
    try {
        names = directory.entryNames();
    } catch (const IOException&) {
        return false;
    }
    bool removed = true;
    for (const String& name : names) {
        removed = directory.removeTree(name) && removed;
    }
    return removed;
}

// The file opened before the move is the one checked after it: a rename
// keeps the inode, a copy is made from that very descriptor.
void DirectoryHandle::moveFile(const String& name, const DirectoryHandle& to) const {
    FileDescriptor source = openForReading(name);
    if (renameOpened(source, name, to, name)) {
        return;
    }
    if (errno != EXDEV) {
        throw failure(childPath(name), std::strerror(errno), __LINE__);
    }
    copyFile(source, to.openForWriting(name, O_CREAT | O_EXCL, 0600), to.childPath(name));
    ::unlinkat(fd_.get(), name.c_str(), 0);
}

void DirectoryHandle::renameFile(const String& name, const DirectoryHandle& to,
                                 const String& newName) const {
    FileDescriptor source = openForReading(name);
    if (!renameOpened(source, name, to, newName)) {
        throw failure(childPath(name), std::strerror(errno), __LINE__);
    }
}

// False with errno set when the rename failed; raises when what arrived is
// not the file opened as source.
bool DirectoryHandle::renameOpened(const FileDescriptor& source, const String& name,
                                   const DirectoryHandle& to, const String& newName) const {
    if (::renameat(fd_.get(), name.c_str(), to.fd_.get(), newName.c_str()) != 0) {
        return false;
    }
    struct stat opened {};
    struct stat moved {};
    bool same = ::fstat(source.get(), &opened) == 0 &&
                ::fstatat(to.fd_.get(), newName.c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
                opened.st_dev == moved.st_dev && opened.st_ino == moved.st_ino;
    if (!same) {
        throw UnsafePathException(to.childPath(newName) + ": replaced while moved", kSource,
                                  __LINE__);
    }
    return true;
}

void DirectoryHandle::copyFile(const FileDescriptor& from, const FileDescriptor& to,
                               const String& target) {
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(from.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw failure(target, std::strerror(errno), __LINE__);
        }
        if (got == 0) {
            break;
        }
        for (ssize_t written = 0; written < got;) {
            ssize_t put = ::write(to.get(), buffer + written, got - written);
            if (put < 0 && errno != EINTR) {
                throw failure(target, std::strerror(errno), __LINE__);
            }
            written += put < 0 ? 0 : put;
        }
    }
    if (::fsync(to.get()) != 0) {
        throw failure(target, std::strerror(errno), __LINE__);
    }
}
