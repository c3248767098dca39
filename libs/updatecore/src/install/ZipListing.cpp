#include "install/ZipListing.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <limits>
#include <sstream>
#include <string>

#include "ChildProcess.h"
#include "Utils.h"
#include "install/DiskSpace.h"
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
    unzip.discardStandardInput();
    unzip.startNewSession();
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

// The lines of text, without their ends.
std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// true when text is a decimal number, stored in value (at most 2^64 - 1).
bool parseSize(const std::string& text, uint64_t& value) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), ::isdigit)) {
        return false;
    }
    errno = 0;
    value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0;
}

// a + b, the largest value instead of wrapping round.
uint64_t saturatedSum(uint64_t a, uint64_t b) {
    return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max()
                                                        : a + b;
}

}  // namespace

bool ZipListing::read(const String& archive) {
    names_.removeAll();
    std::string output;
    if (!unzipOutput({"unzip", "-Z1", archive}, output)) {
        logError("LmUpdate: cannot list archive: " + archive);
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
    return readMembers(archive);
}

// A member line of "unzip -Zl" reads "MODE VERSION OS SIZE FLAGS CSIZE
// METHOD DATE TIME NAME", FLAGS "tx", "b-" and so on, upper case when the
// member is encrypted. The two header lines and the totals line frame one
// member line per name, in the same order.
bool ZipListing::readMembers(const String& archive) {
    members_.clear();
    std::string output;
    std::vector<std::string> lines;
    if (unzipOutput({"unzip", "-Zl", archive}, output)) {
        lines = linesOf(output);
    }
    if (lines.size() != static_cast<size_t>(names_.size()) + 3) {
        logError("LmUpdate: cannot read member sizes of archive: " + archive);
        return false;
    }
    for (size_t i = 2; i + 1 < lines.size(); ++i) {
        std::istringstream fields(lines[i]);
        std::string mode, version, system, size, flags;
        Member member;
        if (!(fields >> mode >> version >> system >> size >> flags) ||
            !parseSize(size, member.size) || flags.empty()) {
            logError("LmUpdate: cannot read member sizes of archive: " + archive);
            return false;
        }
        member.encrypted = ::isupper(static_cast<unsigned char>(flags[0])) != 0;
        members_.push_back(member);
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

String ZipListing::encryptedMember() const {
    for (size_t i = 0; i < members_.size(); ++i) {
        if (members_[i].encrypted) {
            return "encrypted member " + names_[static_cast<int>(i)];
        }
    }
    return String();
}

ZipListing::Extent ZipListing::extent() const {
    return extentOf([](const String&) { return true; });
}

ZipListing::Extent ZipListing::extent(const Vector<String>& members) const {
    return extentOf([&members](const String& name) {
        return std::find(members.begin(), members.end(), name) != members.end();
    });
}

ZipListing::Extent ZipListing::extentOf(const std::function<bool(const String&)>& counted) const {
    Extent extent;
    for (size_t i = 0; i < members_.size(); ++i) {
        if (counted(names_[static_cast<int>(i)])) {
            extent.total = saturatedSum(extent.total, members_[i].size);
            extent.largest = std::max(extent.largest, members_[i].size);
        }
    }
    return extent;
}

String ZipListing::unpackRefusal(const Extent& extent, const String& directory) const {
    String reason = unsafeMember();
    if (reason.isEmpty()) {
        reason = encryptedMember();
    }
    return reason.isEmpty() ? DiskSpace().unpackedShortfall(directory, extent.total) : reason;
}

int ZipListing::unzip(const Vector<String>& arguments, const Extent& extent,
                      const String& startFailureLine) {
    ChildProcess unzip(kUnzip, arguments);
    unzip.setStartFailureLine(startFailureLine);
    unzip.discardStandardInput();
    unzip.startNewSession();
    unzip.setFileSizeLimit(extent.largest);
    return unzip.start() ? unzip.wait() : -1;
}
