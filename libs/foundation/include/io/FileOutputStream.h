#pragma once

#include "String.h"
#include "io/OutputStream.h"

// Output to a file descriptor, which the stream owns and closes (except
// standard output and standard error, which stay open).
class FileOutputStream : public OutputStream {
public:
    enum Mode {
        kTruncate = 0,      // create, truncate
        kAppend = 1,        // append, the file must exist
        kCreateAppend = 2,  // create, append
    };

    // Opens path for writing (any other mode: the file must exist);
    // permission bits 0666 before the umask. Raises IOException path + ": "
    // + the system's error text when it cannot.
    FileOutputStream(const String& path, int mode);
    explicit FileOutputStream(int fd);
    ~FileOutputStream() override;

    using OutputStream::write;
    void close() override;
    void write(int byte) override;
    void write(const char* buffer, int length) override;

    int getFD() const { return fd_; }

    // The process-wide stream on descriptor 2.
    static FileOutputStream& standardError();

private:
    int fd_ = -1;
};
