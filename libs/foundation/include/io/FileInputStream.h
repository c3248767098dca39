#pragma once

#include "String.h"
#include "io/InputStream.h"

// Input from a file descriptor, which the stream owns and closes.
class FileInputStream : public InputStream {
public:
    // Opens path read-only; raises IOException path + ": " + the system's
    // error text when it cannot.
    explicit FileInputStream(const String& path);
    explicit FileInputStream(int fd);
    ~FileInputStream() override;

    using InputStream::read;
    int available() override;
    void close() override;
    int read() override;
    int read(char* buffer, int length) override;
    int64_t skip(int64_t count) override;
    // False for pipes, character devices and sockets.
    bool markSupported() override;
    void mark(int readLimit) override;
    void reset() override;

    int getFD() const { return fd_; }

private:
    bool isStreamLike();

    int fd_ = -1;
    int64_t markedPosition_ = -1;
};
