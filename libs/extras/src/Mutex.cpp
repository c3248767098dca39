// The thread primitives share this source: their precondition assertions
// name it.
#include "Mutex.h"

#include <cassert>
#include <cerrno>
#include <climits>
#include <ctime>

#include "Condition.h"
#include "Monitor.h"
#include "RWLock.h"
#include "Semaphore.h"
#include "Sequence.h"

Mutex::Mutex() {
    pthread_mutex_init(&mutex_, nullptr);
}

Mutex::~Mutex() {
    pthread_mutex_destroy(&mutex_);
}

int Mutex::lock() {
    return pthread_mutex_lock(&mutex_);
}

int Mutex::tryLock() {
    return pthread_mutex_trylock(&mutex_);
}

int Mutex::unlock() {
    return pthread_mutex_unlock(&mutex_);
}

Condition::Condition(Mutex& mutex) : mutex_(mutex) {
    pthread_cond_init(&condition_, nullptr);
}

Condition::~Condition() {
    pthread_cond_destroy(&condition_);
}

int Condition::signal() {
    return pthread_cond_signal(&condition_);
}

int Condition::broadcast() {
    return pthread_cond_broadcast(&condition_);
}

int Condition::wait() {
    return pthread_cond_wait(&condition_, mutex_.native());
}

int Condition::wait(int seconds) {
    struct timespec deadline {};
    deadline.tv_sec = time(nullptr) + seconds;
    return pthread_cond_timedwait(&condition_, mutex_.native(), &deadline);
}

Semaphore::Semaphore(int count) : count_(count), available_(mutex_) {
    assert(count >= 1);
}

int Semaphore::acquire() {
    Monitor guard(mutex_);
    while (count_ < 1) {
        available_.wait();
    }
    --count_;
    return 0;
}

int Semaphore::tryAcquire() {
    Monitor guard(mutex_);
    if (count_ < 1) {
        return -1;
    }
    --count_;
    return 0;
}

int Semaphore::release() {
    Monitor guard(mutex_);
    ++count_;
    if (count_ > 0) {
        available_.signal();
    }
    return 0;
}

RWLock::RWLock() : writers_(mutex_), readersCondition_(mutex_) {}

int RWLock::readLock() {
    Monitor guard(mutex_);
    while (writer_ != 0) {
        readersCondition_.wait();
    }
    ++readers_;
    return 0;
}

int RWLock::tryReadLock() {
    Monitor guard(mutex_);
    if (writer_ != 0) {
        return -1;
    }
    ++readers_;
    return 0;
}

int RWLock::writeLock() {
    Monitor guard(mutex_);
    while (writer_ != 0 || readers_ > 0) {
        writers_.wait();
    }
    writer_ = 1;
    return 0;
}

int RWLock::tryWriteLock() {
    Monitor guard(mutex_);
    if (writer_ != 0 || readers_ > 0) {
        return -1;
    }
    writer_ = 1;
    return 0;
}

int RWLock::unlock() {
    Monitor guard(mutex_);
    if (writer_ == 0) {
        if (readers_ > 0 && --readers_ == 0) {
            writers_.signal();
        }
        return 0;
    }
    writer_ = 0;
    writers_.signal();
    readersCondition_.broadcast();
    return 0;
}

Sequence::Sequence(int initVal) : next_(initVal) {
    assert(initVal >= 0);
}

int Sequence::getNext() {
    return getNext(1u);
}

int Sequence::getNext(unsigned int size) {
    assert(size > 0);
    Monitor guard(mutex_);
    if (next_ < 0) {
        next_ = 0;
    }
    int value = next_;
    // Unsigned so that passing the largest value wraps instead of being UB;
    // the next call then starts over at 0.
    next_ = static_cast<int>(static_cast<unsigned int>(next_) + size);
    return value;
}
