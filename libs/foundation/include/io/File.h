#pragma once

#include <cstdint>
#include <ctime>

#include "String.h"
#include "Vector.h"

// One path with the usual file-system queries. Queries report failure by
// their result; none raises.
class File : public LmObject {
public:
    explicit File(const String& path);
    // directory + "/" + name without doubling a "/" that ends directory; an
    // empty directory gives name alone.
    File(const String& directory, const String& name);

    const String& getPath() const { return path_; }
    bool exists() const;
    bool canRead() const;
    bool canWrite() const;
    bool isFile() const;  // a regular file
    bool isDirectory() const;
    // Size in bytes; -1 when the path is missing, not a regular file or
    // cannot be opened.
    int64_t length() const;
    time_t lastModified() const;        // 0 when the path is missing
    bool setLastModified(time_t time);  // keeps the access time
    bool setReadOnly();                 // clears the three write bits
    bool isReadOnly() const;            // readable and the owner write bit clear
    bool mkdir() const;                 // permission bits 0700, synced in the parent
    bool mkdirs() const;                // missing parents first
    // Creates the file read-write with permission bits 0600 only when it is
    // absent; true when created.
    bool createNewFile() const;
    // unlink for a file, rmdir for anything else.
    bool remove() const;
    // Directories lose their contents first. A symbolic link is removed,
    // never followed.
    bool deleteRecursively() const;
    // Only when the file is writable; on success this object takes the new
    // path.
    bool renameTo(const String& newPath);
    // Names of the directory's entries without "." and ".."; false when the
    // directory cannot be read.
    bool list(Vector<String>& names) const;
    String getName() const;    // text after the last "/", or the whole path
    String getParent() const;  // "/" for "/x", "" for "/" and for "x"
    String getAbsolutePath() const;
    // Absolute, without "." and ".." segments and repeated "/"; symbolic
    // links are not resolved.
    String getCanonicalPath() const;
    bool isAbsolute() const { return path_.startsWith("/"); }
    // The path names the file open on fd (same device and inode).
    bool isSameFile(int fd) const;
    int compareTo(const File& other) const { return path_.compareTo(other.path_); }

    String toString() const override { return path_; }

private:
    bool madeDirectory() const;

    String path_;
};
