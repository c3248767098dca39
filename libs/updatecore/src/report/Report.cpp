#include "report/Report.h"

#include "Utils.h"

namespace {
String& lastName() {
    static String name;
    return name;
}
}  // namespace

void reportError(const String& name) {
    logError(name);
    writeToStandardOutput(name + "\n");
    rememberReportedError(name);
}

const String& lastReportedError() {
    return lastName();
}

void rememberReportedError(const String& name) {
    lastName() = name;
}
