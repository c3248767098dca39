#include "CoreHelpers.h"

#include "Utils.h"

String decimalText(long value) {
    return String().append(value);
}

void reportError(const String& name) {
    log(name);
    writeToStandardOutput(name + "\n");
}
