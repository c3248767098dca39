#pragma once

#include <cstdint>

#include "String.h"

// A tagged value: an integer of some kind, or a text. The printed form is
// kept alongside so that every kind can be written as text.
class TypedValue : public LmObject {
public:
    // Integer kinds: kInteger is free for callers; kNumber is what header
    // sets store for numbers.
    enum Kind { kInteger = 1, kNumber = 2, kText = 5 };

    TypedValue() = default;  // empty text
    explicit TypedValue(const String& text) : text_(text) {}
    explicit TypedValue(int64_t number, Kind kind = kNumber);

    int getKind() const { return kind_; }
    bool isInteger() const { return kind_ == kInteger || kind_ == kNumber; }
    int64_t getNumber() const { return number_; }  // 0 for a text
    const String& getText() const { return text_; }

    String toString() const override { return text_; }

private:
    int kind_ = kText;
    int64_t number_ = 0;
    String text_;
};
