// The network settings reader over a conf/network.xml of the fuzzer's bytes.
#include <unistd.h>

#include "Exception.h"
#include "FuzzInput.h"
#include "LmNetConfig.h"
#include "Utils.h"

namespace {
// One scratch file for the whole run, rewritten for each input and removed
// at exit; in memory where /dev/shm exists, as a disk file slows each run.
struct ScratchFile {
    ScratchFile() {
        int fd = createTempFile("settings_fuzz.", "/dev/shm", path);
        if (fd < 0) {
            fd = createTempFile("settings_fuzz.", path);
        }
        if (fd >= 0) {
            ::close(fd);
        }
    }
    ~ScratchFile() { ::unlink(path.c_str()); }
    String path;
};

const String& scratchFile() {
    static ScratchFile file;
    return file.path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const String& path = scratchFile();
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return 0;
    }
    std::fwrite(data, 1, size, file);
    std::fclose(file);
    LmNetConfig config;
    try {
        config.load(path.c_str());
        NetworkSettings settings;
        config.getSettings(settings);
    } catch (const Exception&) {
        // an unreadable file is refused; nothing else may escape
    }
    return 0;
}
