#include "install/InstallLock.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Utils.h"
#include "Vector.h"

namespace {

// The shared directory the path starts in, which is not ours.
constexpr int kSharedComponents = 1;

String systemError(const String& what) {
    return what + ": " + std::strerror(errno);
}

// "owned by uid N" when not by the effective user, else "".
String ownerProblem(const struct stat& info) {
    if (info.st_uid == ::geteuid()) {
        return String();
    }
    return "owned by uid " + decimalText(static_cast<int>(info.st_uid));
}

}  // namespace

InstallLock::InstallLock(const String& path) {
    Vector<String> parts;
    path.split("/", parts);
    FileDescriptor directory;
    if (parts.isEmpty()) {
        refuse("not a file path");
    } else if (openDirectories(parts, directory) &&
               openFile(directory.get(), parts.lastElement())) {
        struct flock whole = {};
        whole.l_type = F_WRLCK;
        whole.l_whence = SEEK_SET;
        // Only the effective user can open the file: whoever holds it is
        // another update run, worth waiting for.
        while (::fcntl(file_.get(), F_SETLKW, &whole) != 0) {
            if (errno != EINTR) {
                refuse(systemError("cannot lock"));
                break;
            }
        }
    }
}

// Walks (making when missing) every directory of the path but the last
// component; directory ends as the innermost one.
bool InstallLock::openDirectories(const Vector<String>& parts, FileDescriptor& directory) {
    directory = FileDescriptor(::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    for (int i = 0; i + 1 < parts.size(); ++i) {
        const String& name = parts[i];
        if (::mkdirat(directory.get(), name.c_str(), 0700) != 0 && errno != EEXIST) {
            return refuse(systemError("cannot make directory " + name));
        }
        directory = FileDescriptor(::openat(directory.get(), name.c_str(),
                                            O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        struct stat info = {};
        if (!directory.isOpen() || ::fstat(directory.get(), &info) != 0) {
            return refuse(systemError("directory " + name));
        }
        String problem = i < kSharedComponents ? String() : ownerProblem(info);
        if (!problem.isEmpty()) {
            return refuse("directory " + name + " is " + problem);
        }
    }
    return true;
}

bool InstallLock::openFile(int directory, const String& name) {
    constexpr int kFlags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    file_.reset(::openat(directory, name.c_str(), kFlags | O_CREAT | O_EXCL, 0600));
    if (file_.isOpen()) {
        ::fchmod(file_.get(), 0600);  // whatever the umask took away
        return true;
    }
    if (errno != EEXIST) {
        return refuse(systemError("cannot create"));
    }
    file_.reset(::openat(directory, name.c_str(), kFlags));
    struct stat info = {};
    if (!file_.isOpen() || ::fstat(file_.get(), &info) != 0) {
        return refuse(systemError("cannot open"));
    }
    String problem = ownerProblem(info);
    if (!S_ISREG(info.st_mode)) {
        problem = "not a regular file";
    } else if (problem.isEmpty() && (info.st_mode & 07777) != 0600) {
        problem = "mode is not 0600";
    }
    return problem.isEmpty() || refuse(problem);
}

bool InstallLock::refuse(const String& reason) {
    file_.reset();
    refusal_ = reason;
    return false;
}
