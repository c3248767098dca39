#include "DeltaIndexCommand.h"

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "Exception.h"
#include "delta/BlockIndex.h"
#include "delta/ZipCentralDirectory.h"
#include "io/AtomicFileWriter.h"
#include "io/FileDescriptor.h"

namespace {

const char kProgram[] = "lmupdate-make-delta-index";
constexpr size_t kWritePiece = 1 << 20;

void complain(const std::string& text) {
    std::fprintf(stderr, "%s: %s\n", kProgram, text.c_str());
}

void writeIndex(const std::string& path, const std::string& bytes) {
    AtomicFileWriter out{String(path)};
    out.forceMode(0644);
    for (size_t at = 0; at < bytes.size(); at += kWritePiece) {
        size_t length = std::min(kWritePiece, bytes.size() - at);
        out.write(bytes.data() + at, static_cast<int>(length));
    }
    out.commit();
}

}  // namespace

int DeltaIndexCommand::run() {
    if (!parse()) {
        usage(true);
        return DeltaIndexStatus::kBadCommandLine;
    }
    if (help_) {
        usage(false);
        return DeltaIndexStatus::kOk;
    }
    return makeIndex();
}

bool DeltaIndexCommand::parse() {
    blockSize_ = BlockIndex::kDefaultBlockSize;
    for (size_t i = 0; i < args_.size(); ++i) {
        const std::string& arg = args_[i];
        if (arg == "-h" || arg == "--help") {
            help_ = true;
        } else if (arg == "--block-size" && i + 1 < args_.size()) {
            if (!parseBlockSize(args_[++i])) {
                return false;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            complain("unknown option or missing value: " + arg);
            return false;
        } else {
            files_.push_back(arg);
        }
    }
    if (!help_ && files_.size() != 2) {
        complain("give PACKAGE and INDEX");
        return false;
    }
    return true;
}

bool DeltaIndexCommand::parseBlockSize(const std::string& text) {
    bool digits =
        !text.empty() && text.size() <= 9 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
    uint64_t size = digits ? std::stoull(text) : 0;
    if (!BlockIndex::isValidBlockSize(size)) {
        complain("--block-size " + text + ": not a power of two from 1024 to 65536");
        return false;
    }
    blockSize_ = static_cast<uint32_t>(size);
    return true;
}

int DeltaIndexCommand::makeIndex() const {
    const std::string& package = files_[0];
    const std::string& indexPath = files_[1];
    std::string bytes;
    try {
        FileDescriptor fd(::open(package.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.isOpen()) {
            throw IOException(std::strerror(errno));
        }
        bytes = BlockIndex::ofFile(fd.get(), blockSize_).serialize();
        if (ZipCentralDirectory::compressesAnyMember(fd.get())) {
            complain("warning: " + package + ": little to gain: store the members");
        }
    } catch (const IOException& e) {
        complain("cannot read " + package + ": " + e.getMessage().str());
        return DeltaIndexStatus::kFileError;
    }
    try {
        writeIndex(indexPath, bytes);
    } catch (const IOException& e) {
        // The message starts with the path.
        complain("cannot write " + e.getMessage().str());
        return DeltaIndexStatus::kFileError;
    }
    return DeltaIndexStatus::kOk;
}

void DeltaIndexCommand::usage(bool onError) {
    std::FILE* out = onError ? stderr : stdout;
    std::fprintf(out,
                 "Usage: %s PACKAGE INDEX [--block-size <bytes>]\n"
                 "Writes the block index of PACKAGE to INDEX, for block-delta downloads.\n"
                 "--block-size <bytes>  Block size: 1024, 2048, ... 65536 (default %u)\n"
                 "-h/--help             This help text\n",
                 kProgram, BlockIndex::kDefaultBlockSize);
}
