#include "NameValuePairs.h"

NameValuePairs& NameValuePairs::assign(const NameValuePairs& other) {
    if (this != &other) {
        pairs_ = other.pairs_;
    }
    return *this;
}

int NameValuePairs::find(const String& name) const {
    for (int i = 0; i < pairs_.size(); ++i) {
        if (pairs_[i].getName().equalsIgnoreCase(name.view())) {
            return i;
        }
    }
    return -1;
}

String NameValuePairs::getText(const String& name) const {
    int index = find(name);
    return index < 0 ? String() : textAt(index);
}

bool NameValuePairs::remove(const String& name) {
    int index = find(name);
    if (index < 0) {
        return false;
    }
    pairs_.removeAt(index);
    return true;
}

int NameValuePairs::append(const String& name, const TypedValue& value) {
    pairs_.add(TypedPair(name, value));
    return pairs_.size() - 1;
}

String NameValuePairs::toString() const {
    String text;
    for (const TypedPair& pair : pairs_) {
        text.append(pair.toString()).append('\n');
    }
    return text;
}
