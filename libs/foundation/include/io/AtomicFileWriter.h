#pragma once

#include <sys/types.h>

#include <ctime>

#include <string>

#include "String.h"
#include "io/OutputStream.h"

// Replaces a file whole. What is written goes to a temporary file beside
// the target; commit() syncs it and renames it over the target, so that a
// failed or interrupted save leaves the old file as it was instead of an
// empty or half-written one.
//
//   AtomicFileWriter out(path);
//   tree.write(out);
//   out.commit();
//
// A symbolic link as the target is resolved, so the linked file is the one
// replaced (or, for a dangling link, created) and the link stays. The replacement takes over the
// old file's permission bits and (as root) its owner; a new file gets 0666 less the umask. The
// temporary file is removed on every path that does not reach commit: close() and the destructor
// abandon it.
//
// Errors raise IOException with the target path as given, ": " and the
// system's error text.
class AtomicFileWriter : public OutputStream {
public:
    explicit AtomicFileWriter(const String& path);
    ~AtomicFileWriter() override;

    using OutputStream::write;
    void write(int byte) override;
    void write(const char* buffer, int length) override;
    void flush() override;
    // Drops what was written and removes the temporary file; the target
    // stays untouched. Nothing happens after commit().
    void close() override;
    // Writes out, syncs and renames the temporary file over the target,
    // then syncs the directory. The stream is closed afterwards, whether it
    // succeeded or not. A failure before the rename keeps the old file; one
    // of the directory sync after it raises as well, the new content in
    // place but perhaps not surviving a power cut.
    void commit();

    // The replacement gets exactly these permission bits instead of the old
    // file's: a file holding secrets is stored 0600 whatever it was.
    void forceMode(mode_t mode) { target_.mode = mode; }

    // Removes the temporary files a save of path left behind when it was
    // cut off (".NAME.XXXXXX" beside the file) that were last written
    // before olderThan; a save in progress writes its file within
    // milliseconds. Nothing reads them, so this only frees the space. The
    // number removed.
    static int removeStaleTemporaries(const String& path, time_t olderThan);

    const String& getPath() const { return path_; }
    // The temporary file being written; empty once committed or closed.
    const String& getTemporaryPath() const { return tempPath_; }

private:
    struct Target {
        String path;  // symbolic links resolved
        bool exists = false;
        mode_t mode = 0;
        uid_t owner = 0;
        gid_t group = 0;
    };

    static Target describe(const String& path);
    [[noreturn]] void fail(int error, int line) const;
    void writeOut(const char* data, size_t length);
    void takeOverAttributes();
    void closeDescriptor();
    void discard();

    String path_;
    Target target_;
    String tempPath_;
    int fd_ = -1;
    std::string pending_;
};
