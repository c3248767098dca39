#pragma once

#include "Condition.h"
#include "Mutex.h"

// A counting semaphore. The initial count must be at least 1.
class Semaphore : public LmObject {
public:
    explicit Semaphore(int count);

    // Waits while the count is below 1, then decrements it.
    int acquire();
    // Decrements and gives 0 when the count is at least 1, else -1 at once.
    int tryAcquire();
    int release();

private:
    int count_;
    Mutex mutex_;
    Condition available_;
};
