#pragma once

#include "Mutex.h"

// Thread-safe counter handing out values from an initial value (at least
// 0). After passing the largest 32-bit value it starts again at 0.
class Sequence : public LmObject {
public:
    explicit Sequence(int initVal);

    int getNext();
    // The first value of a block of size (above 0) consecutive values.
    int getNext(unsigned int size);

private:
    int next_;
    Mutex mutex_;
};
