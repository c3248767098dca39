#pragma once

#include "NameValuePairs.h"

// HTTP header set: ordered, duplicates allowed, names compared ignoring
// case. Invalid names or values are refused (false) and change nothing.
class HttpHeader : public NameValuePairs {
public:
    // Replace the first header of that name (the new one goes to the end).
    bool setHeader(const String& name, const String& value);
    bool setIntHeader(const String& name, long value);
    // Append, keeping any of the same name.
    bool addHeader(const String& name, const String& value);
    bool addIntHeader(const String& name, long value);

    // The first match's text.
    bool getHeader(const String& name, String& value) const;
    // The first match as a number: an integer value, or a text made only of
    // digits, "+" and "-" that fits an int.
    bool getIntHeader(const String& name, int& value) const;

    // Adds the "Name: value" lines of text (separated by CR LF). False at the
    // first bad line; the lines before it stay added.
    bool parse(const String& text);

    // Every header as "Name: value\r\n", in order.
    String getText() const;
    // The same for a log: the value of Authorization and Proxy-Authorization
    // keeps only its scheme, "Basic ****".
    String getLogText() const;

    static bool isValidName(const String& name);
    static bool isValidValue(const String& value);

private:
    String lines(bool maskCredentials) const;
    // Validates (numbers need a valid name only), then appends, first
    // removing the earlier header of that name when replacing.
    bool put(const String& name, const TypedValue& value, bool replace);
};
