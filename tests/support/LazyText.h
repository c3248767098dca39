#pragma once

#include <concepts>
#include <functional>
#include <string>
#include <utility>

// A test input made only when the test that uses it asks for it. A case
// table is built when the program starts, also just to list its tests, so
// a case with megabytes of input holds how to make them instead:
//
//   LimitCase{"Document16MiB", LazyText(commentedDocument, 16 * 1024 * 1024)}
//   c.document()  // the bytes, made now
class LazyText {
public:
    LazyText(const char* text) : LazyText(std::string(text)) {}
    LazyText(std::string text) : make_([text = std::move(text)] { return text; }) {}
    template <class Make, class... Args>
    requires std::invocable<Make, Args...>
    explicit LazyText(Make make, Args... args)
        : make_([make = std::move(make), args...] { return std::string(make(args...)); }) {}

    std::string operator()() const { return make_(); }

private:
    std::function<std::string()> make_;
};
