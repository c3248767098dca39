#include "trust/PackageConfinement.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include <filesystem>
#include <system_error>

#include "Utils.h"
#include "Vector.h"
#include "io/FileDescriptor.h"

namespace fs = std::filesystem;

bool isInsidePath(const String& path) {
    if (path.isEmpty() || path.startsWith("/")) {
        return false;
    }
    Vector<String> parts;
    path.split("/", parts);
    for (const String& part : parts) {
        if (part == "..") {
            return false;
        }
    }
    return true;
}

String scriptRefusal(const String& directory, const String& script) {
    String path = replaceAll(script, '\\', '/');
    if (!isInsidePath(path)) {
        return "install script outside the package: " + script;
    }
    Vector<String> parts;
    path.split("/", parts);
    FileDescriptor at(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i + 1 < parts.size() && at.isOpen(); ++i) {
        at = FileDescriptor(
            ::openat(at.get(), parts[i].c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    struct stat info = {};
    if (!at.isOpen() || parts.isEmpty() ||
        ::fstatat(at.get(), parts.lastElement().c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
        // A script that is not there cannot start: the caller reports that
        // as any failed start.
        return errno == ENOENT ? String() : "install script reached through a link: " + script;
    }
    if (!S_ISREG(info.st_mode)) {
        return "install script is not a regular file: " + script;
    }
    return String();
}

String linkRefusal(const String& directory) {
    std::error_code error;
    fs::recursive_directory_iterator entry(directory.str(), error);
    for (; !error && entry != fs::recursive_directory_iterator(); entry.increment(error)) {
        if (!entry->is_symlink(error)) {
            continue;
        }
        fs::path target = fs::read_symlink(entry->path(), error);
        if (error || !isInsidePath(String(target.string()))) {
            return "link to outside the package: " + String(entry->path().string()) + " -> " +
                   String(target.string());
        }
    }
    return error ? "cannot check the unpacked files: " + String(error.message()) : String();
}
