#include "download/DownloadTree.h"

#include "Exception.h"
#include "Utils.h"
#include "io/File.h"
#include "report/Report.h"

namespace {
constexpr const char* kUnsafePath = "unsafe download path: ";
}  // namespace

String DownloadTree::packagePath(const LmPackageInfo& package) const {
    return productPath(package.product.id) + "/" + versionName(package.version.version);
}

String DownloadTree::productPath(int32_t id) const {
    return path_ + "/" + decimalText(id);
}

String DownloadTree::versionName(const String& version) {
    return replaceAll(version, '.', '_');
}

void DownloadTree::removeProduct(int32_t id) const {
    File(productPath(id)).deleteRecursively();
}

void DownloadTree::removeFile(const String& path) {
    File file(path);
    if (!path.isEmpty() && file.isFile()) {
        file.remove();
    }
}

std::optional<DirectoryHandle> DownloadTree::packageDirectory(const LmPackageInfo& package,
                                                              String& unsafe) {
    unsafe = String();
    try {
        DirectoryHandle product = trustedSubdirectory(root(), decimalText(package.product.id));
        return trustedSubdirectory(product, versionName(package.version.version));
    } catch (const UnsafePathException& e) {
        unsafe = kUnsafePath + e.getMessage();
    } catch (const IOException&) {
        // could not be made: the caller says so
    }
    return std::nullopt;
}

const DirectoryHandle& DownloadTree::root() {
    if (!root_) {
        File directory(path_);
        if (!directory.isDirectory()) {
            directory.mkdirs();
        }
        root_.emplace(DirectoryHandle::open(path_));
    }
    root_->requireTrusted();
    return *root_;
}

DirectoryHandle DownloadTree::trustedSubdirectory(const DirectoryHandle& parent,
                                                  const String& name) {
    DirectoryHandle child = parent.subdirectory(name);
    child.requireTrusted();
    return child;
}

String DownloadTree::fileProblem(const DirectoryHandle& directory, const String& name) {
    String problem = directory.entryProblem(name);
    return problem.isEmpty() ? problem : kUnsafePath + problem;
}
