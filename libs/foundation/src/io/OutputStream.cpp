#include "io/OutputStream.h"

#include <cstring>

#include "Exception.h"

namespace {
constexpr const char kSource[] = "io/OutputStream";
constexpr const char kClosedSource[] = "io/OutputStream.H";
}  // namespace

void OutputStream::checkOpen() const {
    if (closed_) {
        throw IOException("Stream is already closed", kClosedSource, __LINE__);
    }
}

void OutputStream::close() {
    throw IOException("Unimplemented", kSource, __LINE__);
}

void OutputStream::flush() {
    checkOpen();
}

void OutputStream::write(int) {
    throw IOException("Unimplemented", kSource, __LINE__);
}

void OutputStream::write(const char* text) {
    checkOpen();
    if (text != nullptr) {
        write(text, static_cast<int>(std::strlen(text)));
    }
}

void OutputStream::write(const char*, int) {
    throw IOException("Unimplemented", kSource, __LINE__);
}
