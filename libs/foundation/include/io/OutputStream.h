#pragma once

#include "String.h"

// Byte sink. Every operation of a closed stream raises IOException
// "Stream is already closed"; close itself does nothing the second time.
// Operations a class does not implement raise IOException "Unimplemented".
class OutputStream : public LmObject {
public:
    OutputStream() = default;
    OutputStream(const OutputStream&) = delete;
    OutputStream& operator=(const OutputStream&) = delete;

    virtual void close();
    virtual void flush();
    // The low 8 bits of byte.
    virtual void write(int byte);
    // The bytes of a NUL-terminated text (null writes nothing).
    virtual void write(const char* text);
    virtual void write(const char* buffer, int length);
    void write(const String& text) { write(text.data(), text.length()); }

    bool isClosed() const { return closed_; }

protected:
    // Raises "Stream is already closed" when closed.
    void checkOpen() const;
    void setClosed() { closed_ = true; }

private:
    bool closed_ = false;
};
