#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The exit statuses of lmupdate-make-delta-index.
namespace DeltaIndexStatus {
inline constexpr int kOk = 0;         // index written, or help printed
inline constexpr int kFileError = 1;  // PACKAGE unreadable or INDEX not written
inline constexpr int kBadCommandLine = 255;
}  // namespace DeltaIndexStatus

// lmupdate-make-delta-index PACKAGE INDEX [--block-size N]: writes the block
// index of PACKAGE to INDEX (replaced whole, mode 0644), and warns when
// PACKAGE is a zip whose compressed members leave a delta little to reuse.
class DeltaIndexCommand {
public:
    DeltaIndexCommand(int argc, const char* const* argv) : args_(argv + 1, argv + argc) {}

    int run();

private:
    // False, after saying why, for a command line that is not PACKAGE INDEX
    // with an allowed --block-size.
    bool parse();
    bool parseBlockSize(const std::string& text);
    int makeIndex() const;
    static void usage(bool onError);

    std::vector<std::string> args_;
    std::vector<std::string> files_;
    uint32_t blockSize_ = 0;
    bool help_ = false;
};
