#pragma once

// The cross-process write lock kept by ROOT/bin/write_lock.pl around
// installation.

// The wait status of the script: 0 when it succeeded, anything else means
// the lock was not obtained (or not released).
int lockWrite(int pid, int timeout);
int tryLockWrite(int pid, int timeout);
int unlockWrite(int pid);

// The write lock of this process, taken for as long as the object lives.
class WriteLock {
public:
    static constexpr int kTimeoutSeconds = 600;

    WriteLock();
    ~WriteLock();
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    bool held() const { return held_; }

private:
    bool held_;
};
