#include "TempRoot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {
std::string makeTempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/lmroot.XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp " + pattern + ": " + std::strerror(errno));
    }
    return pattern;
}
}  // namespace

TempRoot::TempRoot() : path_(makeTempDir()) {}

TempRoot::~TempRoot() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempRoot::file(const std::string& relative) const {
    return path_ + "/" + relative;
}

void TempRoot::makeStandardDirs() const {
    for (const char* dir : {"conf", "tmp", "bin"}) {
        mkdirs(dir);
    }
}

void TempRoot::mkdirs(const std::string& relative) const {
    fs::create_directories(file(relative));
}

void TempRoot::write(const std::string& relative, const std::string& content, int mode) const {
    fs::path target = file(relative);
    fs::create_directories(target.parent_path());
    {
        std::ofstream out(target, std::ios::binary | std::ios::trunc);
        out << content;
        if (!out) {
            ADD_FAILURE() << "cannot write " << target;
        }
    }
    ::chmod(target.c_str(), static_cast<mode_t>(mode));
}

void TempRoot::writeScript(const std::string& relative, const std::string& body) const {
    write(relative, "#!/bin/sh\n" + body, 0755);
}

std::string TempRoot::read(const std::string& relative) const {
    std::ifstream in(file(relative), std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << file(relative);
        return {};
    }
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool TempRoot::exists(const std::string& relative) const {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(file(relative), ignored));
}

long long TempRoot::size(const std::string& relative) const {
    std::error_code error;
    auto bytes = fs::file_size(file(relative), error);
    return error ? -1 : static_cast<long long>(bytes);
}

void TempRoot::remove(const std::string& relative) const {
    std::error_code ignored;
    fs::remove_all(file(relative), ignored);
}

void TempRoot::clear() const {
    for (const auto& entry : fs::directory_iterator(path_)) {
        std::error_code ignored;
        fs::remove_all(entry.path(), ignored);
    }
}

TempRoot& processRoot() {
    static std::unique_ptr<TempRoot> root = [] {
        auto made = std::make_unique<TempRoot>();
        ::setenv("REGISTER_DIR", made->path().c_str(), 1);
        return made;
    }();
    return *root;
}
