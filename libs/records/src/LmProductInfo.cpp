#include "LmProductInfo.h"

namespace {

void appendLine(String& text, const char* label, const String& value) {
    text.append(label).append(value).append('\n');
}

void appendLineIfSet(String& text, const char* label, const String& value) {
    if (!value.isEmpty()) {
        appendLine(text, label, value);
    }
}

}  // namespace

String LmProductInfo::toString() const {
    String text("ProductID:   ");
    text.append(static_cast<int>(id)).append('\n');
    appendLine(text, "ProductName: ", name);
    appendLine(text, "Installpath: ", installPath);
    appendLineIfSet(text, "Description: ", desc);
    appendLineIfSet(text, "LangCode:    ", langCode);
    appendLineIfSet(text, "OEM:    ", OEM);
    appendLineIfSet(text, "ParentIDs:   ", parent);
    appendLineIfSet(text, "SerialNo:    ", serialNo);
    return text;
}
