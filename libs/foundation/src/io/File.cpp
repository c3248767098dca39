#include "io/File.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "io/FileDescriptor.h"

namespace {
bool statOf(const String& path, struct stat& status) {
    return ::stat(path.c_str(), &status) == 0;
}

String currentDirectory() {
    std::vector<char> buffer(256);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return String();
        }
        buffer.resize(buffer.size() * 2);
    }
    return String(buffer.data());
}

// Removes "." and ".." segments and empty segments of an absolute path.
String normalise(const String& absolute) {
    Vector<String> segments;
    absolute.split("/", segments);
    std::vector<std::string> kept;
    for (const String& segment : segments) {
        if (segment == ".") {
            continue;
        }
        if (segment == "..") {
            if (!kept.empty()) {
                kept.pop_back();
            }
            continue;
        }
        kept.push_back(segment.str());
    }
    std::string result;
    for (const std::string& segment : kept) {
        result += "/" + segment;
    }
    return String(result.empty() ? std::string("/") : result);
}
}  // namespace

File::File(const String& path) : path_(path) {}

File::File(const String& directory, const String& name) {
    if (directory.isEmpty()) {
        path_ = name;
    } else if (directory.endsWith("/")) {
        path_ = directory + name;
    } else {
        path_ = directory + "/" + name;
    }
}

bool File::exists() const {
    return ::access(path_.c_str(), F_OK) == 0;
}

bool File::canRead() const {
    return ::access(path_.c_str(), R_OK) == 0;
}

bool File::canWrite() const {
    return ::access(path_.c_str(), W_OK) == 0;
}

bool File::isFile() const {
    struct stat status {};
    return statOf(path_, status) && S_ISREG(status.st_mode);
}

bool File::isDirectory() const {
    struct stat status {};
    return statOf(path_, status) && S_ISDIR(status.st_mode);
}

int64_t File::length() const {
    struct stat status {};
    if (!statOf(path_, status) || !S_ISREG(status.st_mode) || !canRead()) {
        return -1;
    }
    return static_cast<int64_t>(status.st_size);
}

time_t File::lastModified() const {
    struct stat status {};
    return statOf(path_, status) ? status.st_mtime : 0;
}

bool File::setLastModified(time_t time) {
    struct stat status {};
    if (!statOf(path_, status)) {
        return false;
    }
    struct timespec times[2] = {status.st_atim, {time, 0}};
    return utimensat(AT_FDCWD, path_.c_str(), times, 0) == 0;
}

bool File::setReadOnly() {
    struct stat status {};
    if (!canWrite() || !statOf(path_, status)) {
        return false;
    }
    return ::chmod(path_.c_str(), status.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH) & 07777) == 0;
}

bool File::isReadOnly() const {
    struct stat status {};
    return canRead() && statOf(path_, status) && (status.st_mode & S_IWUSR) == 0;
}

// The new name is made durable in the parent, so that a record written
// later never names a directory a power cut takes away.
bool File::mkdir() const {
    if (::mkdir(path_.c_str(), 0700) != 0) {
        return false;
    }
    String parent = getParent();
    FileDescriptor directory(
        ::open(parent.isEmpty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return directory.isOpen() && ::fsync(directory.get()) == 0;
}

bool File::mkdirs() const {
    if (exists() || madeDirectory()) {
        return true;
    }
    String parent = getParent();
    return !parent.isEmpty() && File(parent).mkdirs() && madeDirectory();
}

// A directory that another process made meanwhile, or that a trailing "/"
// made the parent step create already, counts as made.
bool File::madeDirectory() const {
    return mkdir() || (errno == EEXIST && isDirectory());
}

bool File::createNewFile() const {
    int fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        return false;
    }
    ::close(fd);
    return true;
}

bool File::remove() const {
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && !S_ISDIR(status.st_mode)) {
        return ::unlink(path_.c_str()) == 0;
    }
    return ::rmdir(path_.c_str()) == 0;
}

bool File::deleteRecursively() const {
    struct stat status {};
    if (::lstat(path_.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) {
        Vector<String> names;
        list(names);
        for (const String& name : names) {
            File(path_, name).deleteRecursively();
        }
    }
    return remove();
}

bool File::renameTo(const String& newPath) {
    if (!canWrite() || ::rename(path_.c_str(), newPath.c_str()) != 0) {
        return false;
    }
    path_ = newPath;
    return true;
}

bool File::list(Vector<String>& names) const {
    names.removeAll();
    DIR* dir = ::opendir(path_.c_str());
    if (dir == nullptr) {
        return false;
    }
    while (struct dirent* entry = ::readdir(dir)) {
        String name(entry->d_name);
        if (name != "." && name != "..") {
            names.add(name);
        }
    }
    ::closedir(dir);
    return true;
}

String File::getName() const {
    int slash = path_.lastIndexOf('/');
    return slash < 0 ? path_ : path_.substring(slash + 1);
}

String File::getParent() const {
    int slash = path_.lastIndexOf('/');
    if (slash < 0 || path_ == "/") {
        return String();
    }
    return slash == 0 ? String("/") : path_.substring(0, slash);
}

String File::getAbsolutePath() const {
    return isAbsolute() ? path_ : currentDirectory() + "/" + path_;
}

String File::getCanonicalPath() const {
    return normalise(getAbsolutePath());
}

bool File::isSameFile(int fd) const {
    struct stat byName {};
    struct stat byFd {};
    return statOf(path_, byName) && ::fstat(fd, &byFd) == 0 && byName.st_ino == byFd.st_ino &&
           byName.st_dev == byFd.st_dev;
}
