#pragma once

#include "String.h"

// Root of the library's failures: a message, the raising source (its name
// inside the library without extension, such as "io/OutputStream") and the
// line.
class Exception : public LmObject {
public:
    explicit Exception(String message, String file = String(), int line = 0)
        : message_(std::move(message)), file_(std::move(file)), line_(line) {}

    String getMessage() const { return message_; }
    String getLocation() const;  // file + ", line " + line
    const String& getFile() const { return file_; }
    int getLine() const { return line_; }

private:
    String message_;
    String file_;
    int line_;
};

class OutOfMemoryException : public Exception {
public:
    explicit OutOfMemoryException(String file = String(), int line = 0)
        : Exception("Out of memory", std::move(file), line) {}
};

class ArrayIndexException : public Exception {
public:
    explicit ArrayIndexException(String file = String(), int line = 0)
        : Exception("Array index out of bounds", std::move(file), line) {}
};

class NullPointerException : public Exception {
public:
    explicit NullPointerException(String file = String(), int line = 0)
        : Exception("Pointer is NULL", std::move(file), line) {}
};

class IOException : public Exception {
public:
    using Exception::Exception;
};

// A path that must not be used as it is: a link where none may be, or an
// entry of the wrong kind or owner.
class UnsafePathException : public IOException {
public:
    using IOException::IOException;
};
