#pragma once

#include <cstdint>

#include "LmObject.h"

// Byte source. Every operation of a closed stream raises IOException
// "Stream is already closed"; close itself does nothing the second time.
// Operations a class does not implement raise IOException "Unimplemented".
class InputStream : public LmObject {
public:
    InputStream() = default;
    InputStream(const InputStream&) = delete;
    InputStream& operator=(const InputStream&) = delete;

    // Bytes readable without blocking.
    virtual int available();
    virtual void close();
    // One byte as 0 to 255, or -1 at end of input.
    virtual int read();
    // Up to length bytes; the count read, 0 at end of input.
    virtual int read(char* buffer, int length);
    // Discards up to count bytes; the number discarded.
    virtual int64_t skip(int64_t count);
    virtual bool markSupported();
    virtual void mark(int readLimit);
    virtual void reset();

    bool isClosed() const { return closed_; }

protected:
    // Raises "Stream is already closed" when closed.
    void checkOpen() const;
    void setClosed() { closed_ = true; }

private:
    bool closed_ = false;
};
