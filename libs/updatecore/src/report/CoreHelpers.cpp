#include "report/CoreHelpers.h"

#include "Utils.h"

String decimalText(int64_t value) {
    return String().append(value);
}

void reportError(const String& name) {
    log(name);
    writeToStandardOutput(name + "\n");
}
