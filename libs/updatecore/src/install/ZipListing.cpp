#include "install/ZipListing.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "ChildProcess.h"
#include "Utils.h"
#include "io/FileDescriptor.h"
#include "report/Report.h"
#include "trust/PackageConfinement.h"

namespace {

constexpr const char kUnzip[] = "/usr/bin/unzip";
// A listing longer than this is not a package we install.
constexpr size_t kMaxListing = 16 * 1024 * 1024;

// Everything readable from fd until its end, at most kMaxListing bytes and
// one more (so that the caller sees the excess).
std::string readAll(int fd) {
    std::string text;
    char buffer[16384];
    ssize_t got = 0;
    while (text.size() <= kMaxListing &&
           ((got = ::read(fd, buffer, sizeof buffer)) > 0 || (got < 0 && errno == EINTR))) {
        if (got > 0) {
            text.append(buffer, static_cast<size_t>(got));
        }
    }
    return text;
}

// The standard output of unzip with the arguments; false when it could not
// run or failed.
bool unzipOutput(const Vector<String>& arguments, std::string& output) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return false;
    }
    FileDescriptor readEnd(ends[0]);
    FileDescriptor writeEnd(ends[1]);
    ChildProcess unzip(kUnzip, arguments);
    unzip.setStandardOutput(writeEnd.get());
    unzip.discardStandardError();
    if (!unzip.start()) {
        return false;
    }
    writeEnd.reset();
    output = readAll(readEnd.get());
    readEnd.reset();  // an unzip still writing ends on SIGPIPE
    int status = unzip.wait();
    return status >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0 &&
           output.size() <= kMaxListing;
}

}  // namespace

bool ZipListing::read(const String& archive) {
    names_.removeAll();
    std::string output;
    if (!unzipOutput({"unzip", "-Z1", archive}, output)) {
        log("LmUpdate: cannot list archive: " + archive);
        return false;
    }
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) {
            end = output.size();
        }
        names_.add(String(output.substr(start, end - start)));
        start = end + 1;
    }
    return true;
}

bool ZipListing::contains(const String& name) const {
    for (const String& member : names_) {
        if (member == name) {
            return true;
        }
    }
    return false;
}

String ZipListing::unsafeMember() const {
    for (const String& member : names_) {
        // unzip takes "\" for a separator in names from other systems.
        if (!isInsidePath(replaceAll(member, '\\', '/'))) {
            return "unsafe member path " + member;
        }
    }
    return String();
}
