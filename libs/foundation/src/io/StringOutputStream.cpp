#include "io/StringOutputStream.h"

void StringOutputStream::close() {
    if (!isClosed()) {
        setClosed();
        bytes_.clear();
    }
}

void StringOutputStream::write(int byte) {
    checkOpen();
    bytes_.append(static_cast<char>(byte));
}

void StringOutputStream::write(const char* buffer, int length) {
    checkOpen();
    bytes_.append(buffer, length);
}
