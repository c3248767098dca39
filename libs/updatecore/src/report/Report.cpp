#include "report/Report.h"

#include "Utils.h"

void reportError(const String& name) {
    logError(name);
    writeToStandardOutput(name + "\n");
}
