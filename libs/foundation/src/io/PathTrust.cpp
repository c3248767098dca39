#include "io/PathTrust.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace {

// Why the component at path breaks the rule, "" when it keeps it or does
// not exist. above: a directory above the judged path.
String componentProblem(const std::string& path, bool above) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) {
        return errno == ENOENT ? String() : String(path.c_str()) + ": " + std::strerror(errno);
    }
    bool rootOwned = status.st_uid == 0;
    if (!rootOwned && status.st_uid != ::geteuid()) {
        return (String(path.c_str()) + ": owned by uid ").append(static_cast<long>(status.st_uid));
    }
    bool sharedSticky = above && rootOwned && (status.st_mode & S_ISVTX) != 0;
    if ((status.st_mode & (S_IWGRP | S_IWOTH)) != 0 && !sharedSticky) {
        return String(path.c_str()) + ": writable by group or others";
    }
    return String();
}

}  // namespace

String PathTrust::problem(const String& path) {
    std::error_code error;
    std::filesystem::path resolved = std::filesystem::weakly_canonical(path.str(), error);
    if (error) {
        return path + ": " + String(error.message().c_str());
    }
    std::filesystem::path walked;
    for (const std::filesystem::path& part : resolved) {
        walked /= part;
        bool above = walked != resolved;
        String problem = componentProblem(walked.string(), above);
        if (!problem.isEmpty()) {
            return problem;
        }
    }
    return String();
}
