#pragma once

class String;

// Root of the library's class tree.
class LmObject {
public:
    LmObject() = default;
    LmObject(const LmObject&) = default;
    LmObject& operator=(const LmObject&) = default;
    LmObject(LmObject&&) noexcept = default;
    LmObject& operator=(LmObject&&) noexcept = default;
    virtual ~LmObject() = default;

    // The class's name unless a subclass says more.
    virtual String toString() const;
};
