#pragma once

#include <utility>

#include "String.h"

// One named value; printed as name + "=" + the value's text.
template <class T>
class NameValuePair : public LmObject {
public:
    NameValuePair() = default;
    NameValuePair(String name, T value) : name_(std::move(name)), value_(std::move(value)) {}

    const String& getName() const { return name_; }
    const T& getValue() const { return value_; }
    void setValue(T value) { value_ = std::move(value); }

    String toString() const override { return name_ + "=" + value_.toString(); }

    friend bool operator==(const NameValuePair&, const NameValuePair&) = default;

private:
    String name_;
    T value_;
};
