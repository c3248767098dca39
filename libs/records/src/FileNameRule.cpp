#include "FileNameRule.h"

String unsafeFileNameReason(const String& name) {
    if (name.isEmpty()) {
        return "empty name";
    }
    if (name == "." || name == "..") {
        return "\"" + name + "\" names a directory";
    }
    for (char c : name.view()) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '/' || c == '\\') {
            return String("name holds \"") + c + "\"";
        }
        if (byte < 0x20 || byte == 0x7f) {
            return "name holds a control character";
        }
    }
    return String();
}
