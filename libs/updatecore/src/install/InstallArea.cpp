#include "install/InstallArea.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <optional>

#include "Exception.h"
#include "InstallRoot.h"
#include "io/PathTrust.h"

namespace {

constexpr const char* kSource = "InstallArea";

// The directory at path, made with mode when missing, when it and every
// directory above it keep the path rule; else the reason it cannot be used.
// The ancestors are judged before the directory is made or opened: only
// root and the running user can change them after that.
std::optional<DirectoryHandle> trustedArea(const String& path, mode_t mode, String& problem) {
    problem = PathTrust::problem(path);
    if (!problem.isEmpty()) {
        return std::nullopt;
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        problem = path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    try {
        DirectoryHandle area = DirectoryHandle::open(path);
        problem = area.untrustedReason();
        if (problem.isEmpty()) {
            return area;
        }
    } catch (const IOException& e) {
        problem = e.getMessage();
    }
    return std::nullopt;
}

}  // namespace

DirectoryHandle InstallArea::open() {
    String rootProblem;
    std::optional<DirectoryHandle> area = trustedArea(installPath("tmp"), 0755, rootProblem);
    if (!area) {
        String runtimeProblem;
        area = trustedArea(kRuntimeArea, 0700, runtimeProblem);
    }
    if (!area) {
        throw UnsafePathException(rootProblem, kSource, __LINE__);
    }
    return std::move(*area);
}
