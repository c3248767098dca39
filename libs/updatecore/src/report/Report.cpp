#include "report/Report.h"

#include "Utils.h"

void reportError(const String& name) {
    log(name);
    writeToStandardOutput(name + "\n");
}
