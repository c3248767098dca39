#include "io/DirectoryHandle.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Exception.h"

namespace {
constexpr const char* kSource = "DirectoryHandle";
constexpr mode_t kDirectoryMode = 0755;

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

DirectoryHandle DirectoryHandle::subdirectory(const String& name) const {
    bool created = ::mkdirat(fd_.get(), name.c_str(), kDirectoryMode) == 0;
    if (!created && errno != EEXIST) {
        throw failure(childPath(name), std::strerror(errno), __LINE__);
    }
    FileDescriptor fd(
        ::openat(fd_.get(), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.isOpen()) {
        throwOpenFailure(name, errno, __LINE__);
    }
    if (created) {
        ::fchmod(fd.get(), kDirectoryMode);  // whatever the umask
    }
    return DirectoryHandle(std::move(fd), childPath(name));
}

// O_NONBLOCK: a FIFO planted there must not block the open (it has no
// effect on a regular file).
FileDescriptor DirectoryHandle::openForWriting(const String& name, int flags, mode_t mode) const {
    FileDescriptor fd(::openat(fd_.get(), name.c_str(),
                               O_WRONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | flags, mode));
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
