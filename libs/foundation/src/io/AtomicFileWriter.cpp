#include "io/AtomicFileWriter.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include "Exception.h"
#include "Utils.h"
#include "io/File.h"
#include "io/FileDescriptor.h"

namespace {

constexpr const char kSource[] = "io/AtomicFileWriter";
// Bytes gathered before they go to the temporary file: documents arrive in
// many small pieces.
constexpr size_t kBufferSize = 8192;
constexpr int kMaxLinks = 40;  // as the kernel follows at most

String directoryOf(const String& path) {
    String directory = File(path).getParent();
    return directory.isEmpty() ? String(".") : directory;
}

// The file that path names once symbolic links are followed, also when the
// last link dangles: the save then creates the file it points at, as
// opening the path for writing would. Empty for a loop of links.
String resolveLinks(const String& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) != nullptr) {
        return String(resolved);
    }
    String current = path;
    for (int hop = 0; hop < kMaxLinks; ++hop) {
        ssize_t n = ::readlink(current.c_str(), resolved, sizeof resolved);
        if (n < 0 || static_cast<size_t>(n) >= sizeof resolved) {
            return current;  // no link to follow: the path itself
        }
        String next(resolved, static_cast<int>(n));
        current = next.startsWith("/") ? next : File(File(current).getParent(), next).getPath();
    }
    return String();
}

// What creating the file with 0666 would give under the current umask.
mode_t defaultMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Whether name is "." + base + "." and the six letters or digits mkostemp
// adds.
bool isTemporaryName(const std::string& name, const std::string& base) {
    const std::string prefix = "." + base + ".";
    if (name.size() != prefix.size() + 6 || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<long>(prefix.size()), name.end(),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

int AtomicFileWriter::removeStaleTemporaries(const String& path, time_t olderThan) {
    String target = resolveLinks(path);
    if (target.isEmpty()) {
        return 0;
    }
    const std::string base = File(target).getName().str();
    const String directory = directoryOf(target);
    std::unique_ptr<DIR, int (*)(DIR*)> stream(::opendir(directory.c_str()), ::closedir);
    if (!stream) {
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(stream.get())) {
        struct stat status {};
        if (!isTemporaryName(entry->d_name, base) ||
            ::fstatat(::dirfd(stream.get()), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode) || status.st_mtime >= olderThan) {
            continue;
        }
        removed += ::unlinkat(::dirfd(stream.get()), entry->d_name, 0) == 0 ? 1 : 0;
    }
    return removed;
}

AtomicFileWriter::AtomicFileWriter(const String& path) : path_(path), target_(describe(path)) {
    if (target_.path.isEmpty()) {
        setClosed();
        fail(ELOOP, __LINE__);
    }
    String name = File(target_.path).getName();
    fd_ = createTempFile("." + name + ".", directoryOf(target_.path), tempPath_);
    if (fd_ < 0) {
        int error = errno;
        setClosed();
        fail(error, __LINE__);
    }
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

AtomicFileWriter::Target AtomicFileWriter::describe(const String& path) {
    Target target;
    target.path = resolveLinks(path);
    struct stat status {};
    if (::stat(target.path.c_str(), &status) == 0 && S_ISREG(status.st_mode)) {
        target.exists = true;
        target.mode = status.st_mode & 07777;
        target.owner = status.st_uid;
        target.group = status.st_gid;
    } else {
        target.mode = defaultMode();
    }
    return target;
}

void AtomicFileWriter::fail(int error, int line) const {
    throw IOException(path_ + ": " + strerror(error), kSource, line);
}

void AtomicFileWriter::write(int byte) {
    char c = static_cast<char>(byte);
    write(&c, 1);
}

void AtomicFileWriter::write(const char* buffer, int length) {
    checkOpen();
    if (length <= 0) {
        return;
    }
    pending_.append(buffer, static_cast<size_t>(length));
    if (pending_.size() >= kBufferSize) {
        flush();
    }
}

void AtomicFileWriter::flush() {
    checkOpen();
    std::string data;
    data.swap(pending_);
    writeOut(data.data(), data.size());
}

void AtomicFileWriter::writeOut(const char* data, size_t length) {
    while (length > 0) {
        ssize_t n = ::write(fd_, data, length);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            // Never let a half-written file be committed afterwards.
            int error = n < 0 ? errno : EIO;
            discard();
            fail(error, __LINE__);
        }
        data += n;
        length -= static_cast<size_t>(n);
    }
}

void AtomicFileWriter::takeOverAttributes() {
    if (::fchmod(fd_, target_.mode) != 0) {
        fail(errno, __LINE__);
    }
    if (target_.exists) {
        // Only root may give a file away; anyone else keeps it.
        (void)!::fchown(fd_, target_.owner, target_.group);
    }
}

void AtomicFileWriter::closeDescriptor() {
    int fd = fd_;
    fd_ = -1;
    // A delayed write error (NFS, quota) shows up here at the latest.
    if (::close(fd) != 0) {
        fail(errno, __LINE__);
    }
}

// The directory is opened before the rename, so that one that cannot be
// synced fails the save before anything is published. A failed sync after
// the rename still fails it: the new name may not survive a power cut.
void AtomicFileWriter::commit() {
    checkOpen();
    try {
        flush();
        takeOverAttributes();
        if (::fsync(fd_) != 0) {
            fail(errno, __LINE__);
        }
        FileDescriptor directory(
            ::open(directoryOf(target_.path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (!directory.isOpen()) {
            fail(errno, __LINE__);
        }
        closeDescriptor();
        if (::rename(tempPath_.c_str(), target_.path.c_str()) != 0) {
            fail(errno, __LINE__);
        }
        tempPath_ = String();
        if (::fsync(directory.get()) != 0) {
            fail(errno, __LINE__);
        }
    } catch (...) {
        discard();
        throw;
    }
    setClosed();
}

void AtomicFileWriter::close() {
    discard();
}

void AtomicFileWriter::discard() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    if (!tempPath_.isEmpty()) {
        ::unlink(tempPath_.c_str());
        tempPath_ = String();
    }
    pending_.clear();
    setClosed();
}
