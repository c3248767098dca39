#include "net/SocketReader.h"

#include <algorithm>
#include <cstring>

#include "net/ClientSocket.h"

SocketReader::SocketReader(ClientSocket* socket) : socket_(socket) {}

int SocketReader::read(char* buffer, int length) {
    if (buffer == nullptr || length < 1) {
        return -1;
    }
    if (buffered() == 0) {
        int got = refill();
        if (got <= 0) {
            return got;
        }
    }
    int count = std::min(length, buffered());
    std::memcpy(buffer, buffer_.data() + start_, static_cast<size_t>(count));
    start_ += count;
    return count;
}

int SocketReader::readByte() {
    char byte = 0;
    return read(&byte, 1) == 1 ? static_cast<unsigned char>(byte) : -1;
}

// Allocated at the first read: a response whose body is never read costs
// no buffer.
int SocketReader::refill() {
    if (socket_ == nullptr) {
        return -1;
    }
    buffer_.resize(kCapacity);
    start_ = 0;
    end_ = 0;
    int got = socket_->read(buffer_.data(), kCapacity);
    if (got > 0) {
        end_ = got;
    }
    return got;
}
