#include "SharedFiles.h"

#include <chrono>
#include <filesystem>
#include <fstream>

#include "FileLock.h"

namespace fs = std::filesystem;

namespace {

constexpr auto kMaxAge = std::chrono::hours(24);

bool fresh(const std::string& stamp) {
    std::error_code error;
    auto made = fs::last_write_time(stamp, error);
    return !error && fs::file_time_type::clock::now() - made < kMaxAge;
}

}  // namespace

void copySharedFiles(const std::string& name, const std::string& destination,
                     const std::function<bool(const std::string& dir)>& make) {
    const std::string dir = LM_BINARY_DIR "/tests/shared/" + name;
    fs::create_directories(fs::path(dir).parent_path());
    FileLock lock(String((dir + ".lock").c_str()));
    lock.lock();
    const std::string stamp = dir + ".made";
    if (!fresh(stamp)) {
        fs::remove(stamp);
        fs::remove_all(dir);
        fs::create_directories(dir);
        if (make(dir)) {
            std::ofstream{stamp};
        }
    }
    fs::copy(dir, destination, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}
