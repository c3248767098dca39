#pragma once

#include <pthread.h>

#include "LmObject.h"

// A POSIX mutex with default attributes.
class Mutex : public LmObject {
public:
    Mutex();
    Mutex(const Mutex&) = delete;
    Mutex& operator=(const Mutex&) = delete;
    ~Mutex() override;

    int lock();
    // 0 when taken, otherwise the error number (EBUSY when held).
    int tryLock();
    int unlock();

    pthread_mutex_t* native() { return &mutex_; }

private:
    pthread_mutex_t mutex_;
};
