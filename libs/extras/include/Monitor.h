#pragma once

#include "Mutex.h"

// Holds a mutex for the lifetime of the scope.
class Monitor : public LmObject {
public:
    explicit Monitor(Mutex& mutex) : mutex_(mutex) { mutex_.lock(); }
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;
    ~Monitor() override { mutex_.unlock(); }

private:
    Mutex& mutex_;
};
