#pragma once

#include "Condition.h"
#include "Mutex.h"

// Many readers or one writer. Readers are admitted whenever no writer holds
// the lock, so a steady stream of readers can keep writers waiting.
class RWLock : public LmObject {
public:
    RWLock();

    int readLock();
    int tryReadLock();  // -1 when a writer holds the lock
    int writeLock();
    int tryWriteLock();  // -1 when busy
    // Releases the writer, or one reader when no writer holds the lock.
    int unlock();

private:
    int readers_ = 0;
    int writer_ = 0;
    Mutex mutex_;
    Condition writers_;
    Condition readersCondition_;
};
