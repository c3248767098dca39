#include "CmdLine.h"

#include <cstring>

#include "Exception.h"

int CmdLine::classify(const char* argument) const {
    size_t length = argument != nullptr ? std::strlen(argument) : 0;
    if (length > 2 && argument[0] == '-' && argument[1] == '-') {
        return 2;
    }
    if (length > 1 && argument[0] == '-') {
        return 1;
    }
    return 0;
}

void CmdLine::parse() {
    names_.removeAll();
    values_.removeAll();
    for (int i = 1; i < argc_; ++i) {
        const char* current = argv_[i] != nullptr ? argv_[i] : "";
        const char* next = i + 1 < argc_ && argv_[i + 1] != nullptr ? argv_[i + 1] : "";
        int prefix = classify(current);
        if (prefix == 0) {
            continue;  // a stray word
        }
        names_.add(String(current + prefix));
        if (i + 1 < argc_ && classify(next) == 0) {
            values_.add(String(next));
            ++i;  // consumed as the value
        } else {
            values_.add(String());
        }
    }
}

bool CmdLine::getOption(const String& name, String& value) const {
    if (name.isEmpty()) {
        return false;
    }
    for (int i = 0; i < names_.size(); ++i) {
        if (names_[i] != name) {
            continue;
        }
        try {
            value = values_[i];
            return true;
        } catch (const ArrayIndexException&) {
            // The lists out of step: look on.
        }
    }
    return false;
}

bool CmdLine::hasOption(const String& name) const {
    String ignored;
    return getOption(name, ignored);
}
