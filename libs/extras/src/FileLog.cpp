#include "FileLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "Exception.h"
#include "NameValuePairs.h"
#include "Utils.h"
#include "io/File.h"

namespace {
int openForAppend(const String& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    return fd;
}
}  // namespace

FileLog::FileLog() : Log(&FileOutputStream::standardError()) {}

FileLog::FileLog(const String& path) : FileLog() {
    open(path);
}

FileLog::~FileLog() {
    closeStream();
}

void FileLog::writeStamped(const String& text) {
    // One reading of the clock for date and time.
    Log::write(formatLocalTime("%Y-%m-%d %H:%M:%S\t") + text);
}

void FileLog::write(const String& message) {
    writeStamped(message);
}

void FileLog::logPairs(const NameValuePairs& pairs) {
    String text;
    formatPairs(pairs, text);
    writeStamped(text);
}

void FileLog::log(const String& message, int level) {
    writeStamped(String(levelWord(level)) + "\t" + message);
}

void FileLog::reset() {
    closeStream();
    if (!fileName_.isEmpty()) {
        File(fileName_).remove();
    }
    open(fileName_);
}

void FileLog::formatPairs(const NameValuePairs& pairs, String& out) {
    for (int i = 0; i < pairs.size(); ++i) {
        if (i > 0) {
            out += "\t";
        }
        std::string value = pairs.textAt(i).str();
        std::replace(value.begin(), value.end(), '\t', ' ');
        out += String(value);
    }
    out += "\n";
}

bool FileLog::open(const String& path) {
    if (path.isEmpty()) {
        closeStream();
        fileName_ = path;
        setStream(&FileOutputStream::standardError());
        return false;
    }
    if (ownedStream_ && fd_ >= 0 && path == fileName_ && File(path).isSameFile(fd_)) {
        return true;
    }
    closeStream();
    fileName_ = path;
    fd_ = openForAppend(path);
    // A failed open leaves a stream on descriptor -1: its lines are lost.
    ownedStream_ = std::make_unique<FileOutputStream>(fd_);
    setStream(ownedStream_.get());
    return fd_ >= 0;
}

void FileLog::closeStream() {
    if (ownedStream_) {
        try {
            ownedStream_->close();
        } catch (const Exception&) {
        }
        ownedStream_.reset();
    }
    fd_ = -1;
    setStream(nullptr);
}
