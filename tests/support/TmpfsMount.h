#pragma once

#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

// A small file system mounted for one test; unmounted at its end.
class TmpfsMount {
public:
    // Needs root; mounted() tells, error() says why not.
    TmpfsMount(const std::string& path, const char* size) : path_(path) {
        std::filesystem::create_directories(path);
        // 0755: a download directory others may write to is refused.
        std::string options = std::string("size=") + size + ",mode=0755";
        if (::mount("tmpfs", path.c_str(), "tmpfs", 0, options.c_str()) == 0) {
            mounted_ = true;
        } else {
            error_ = std::strerror(errno);
        }
    }
    ~TmpfsMount() {
        if (mounted_) {
            ::umount2(path_.c_str(), MNT_DETACH);
        }
    }
    TmpfsMount(const TmpfsMount&) = delete;
    TmpfsMount& operator=(const TmpfsMount&) = delete;

    bool mounted() const { return mounted_; }
    const std::string& error() const { return error_; }

private:
    std::string path_;
    bool mounted_ = false;
    std::string error_;
};
