#pragma once

#include "String.h"
#include "io/FileDescriptor.h"

// One install lock (InstallLocks takes them): an exclusive record lock on a
// file at a fixed path, possibly in a directory anybody can write to. Missing directories are made
// 0700 and the file 0600, each opened relative to its parent without following links. An existing
// file or directory is accepted only when the effective user owns it (the first directory below
// "/", the shared "/tmp", excepted) and the file is a regular file of mode 0600: what another user
// planted is refused rather than waited for. Released when the object goes; the file is closed on
// exec, so the install scripts do not inherit it.
class InstallLock {
public:
    explicit InstallLock(const String& path);
    InstallLock(const InstallLock&) = delete;
    InstallLock& operator=(const InstallLock&) = delete;

    bool held() const { return file_.isOpen(); }
    // Why the lock was refused ("" while it is held).
    const String& refusal() const { return refusal_; }

private:
    bool openDirectories(const Vector<String>& parts, FileDescriptor& directory);
    bool openFile(int directory, const String& name);
    bool refuse(const String& reason);

    FileDescriptor file_;  // closing it releases the lock
    String refusal_;
};
