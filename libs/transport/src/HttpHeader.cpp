#include "net/HttpHeader.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {
bool isNumericText(const String& text) {
    if (text.isEmpty()) {
        return false;
    }
    for (char c : text.view()) {
        if ((c < '0' || c > '9') && c != '+' && c != '-') {
            return false;
        }
    }
    return true;
}

bool isCredential(const String& name) {
    return name.equalsIgnoreCase("Authorization") || name.equalsIgnoreCase("Proxy-Authorization");
}

// "Basic dXNlcjpwYXNz" becomes "Basic ****"; a value without a scheme "****".
String masked(const String& value) {
    int space = value.indexOf(' ');
    return space < 0 ? String("****") : value.substring(0, space + 1) + "****";
}
}  // namespace

bool HttpHeader::isValidName(const String& name) {
    return !name.isEmpty() && name.indexOf(':') < 0 && name.indexOf('\r') < 0 &&
           name.indexOf('\n') < 0;
}

bool HttpHeader::isValidValue(const String& value) {
    return !value.isEmpty() && value.indexOf('\r') < 0 && value.indexOf('\n') < 0;
}

bool HttpHeader::put(const String& name, const TypedValue& value, bool replace) {
    if (!isValidName(name) || (!value.isInteger() && !isValidValue(value.getText()))) {
        return false;
    }
    if (replace) {
        remove(name);
    }
    append(name, value);
    return true;
}

bool HttpHeader::setHeader(const String& name, const String& value) {
    return put(name, TypedValue(value), true);
}

bool HttpHeader::setIntHeader(const String& name, long value) {
    return put(name, TypedValue(value), true);
}

bool HttpHeader::addHeader(const String& name, const String& value) {
    return put(name, TypedValue(value), false);
}

bool HttpHeader::addIntHeader(const String& name, long value) {
    return put(name, TypedValue(value), false);
}

bool HttpHeader::getHeader(const String& name, String& value) const {
    int index = find(name);
    if (index < 0) {
        return false;
    }
    value = textAt(index);
    return true;
}

bool HttpHeader::getIntHeader(const String& name, int& value) const {
    int index = find(name);
    if (index < 0) {
        return false;
    }
    const TypedValue& typed = pairAt(index).getValue();
    long number = typed.getNumber();
    if (!typed.isInteger()) {
        if (!isNumericText(typed.getText())) {
            return false;
        }
        errno = 0;
        number = std::strtol(typed.getText().c_str(), nullptr, 10);
        if (errno == ERANGE) {
            return false;
        }
    }
    // A number beyond int is no usable length; do not let it wrap.
    if (number < INT_MIN || number > INT_MAX) {
        return false;
    }
    value = static_cast<int>(number);
    return true;
}

bool HttpHeader::parse(const String& text) {
    int position = 0;
    while (position < text.length()) {
        int end = text.indexOf("\r\n", position);
        if (end < 0) {
            end = text.length();
        }
        int colon = text.indexOf(':', position);
        if (colon < 0 || colon >= end) {
            return false;
        }
        if (!addHeader(text.substring(position, colon).trim(),
                       text.substring(colon + 1, end).trim())) {
            return false;
        }
        position = end + 2;
    }
    return true;
}

String HttpHeader::getText() const {
    return lines(false);
}

String HttpHeader::getLogText() const {
    return lines(true);
}

String HttpHeader::lines(bool maskCredentials) const {
    String text;
    for (int i = 0; i < size(); ++i) {
        String value = textAt(i);
        if (maskCredentials && isCredential(nameAt(i))) {
            value = masked(value);
        }
        text.append(nameAt(i)).append(": ").append(value).append("\r\n");
    }
    return text;
}
