#pragma once

#include <pthread.h>

#include "Mutex.h"

// A condition variable waited on with a mutex that the caller holds.
class Condition : public LmObject {
public:
    explicit Condition(Mutex& mutex);
    Condition(const Condition&) = delete;
    Condition& operator=(const Condition&) = delete;
    ~Condition() override;

    int signal();
    int broadcast();
    int wait();
    // Waits at most until now + seconds (whole seconds); ETIMEDOUT when the
    // time ran out.
    int wait(int seconds);
    int lock() { return mutex_.lock(); }
    int unlock() { return mutex_.unlock(); }

private:
    pthread_cond_t condition_;
    Mutex& mutex_;
};
