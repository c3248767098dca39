// The update-answer reader: package list, server list, result code and the
// text rendering of an answer.
#include "FuzzInput.h"
#include "ServerAnswer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ServerAnswer answer;
    answer.parse(fuzzText(data, size));
    Vector<LmPackageInfo> packages(0, 20);
    answer.readPackageInfoList(packages, false);
    answer.readPackageInfoList(packages, true);
    for (const LmPackageInfo& package : packages) {
        if (package.isUsable() && package.size < 0) {
            __builtin_trap();  // a usable package never has a negative size
        }
    }
    Vector<String> servers(0, 20);
    answer.readServerList(servers);
    answer.getResultCode();
    answer.getResultStatus();
    String described;
    answer.describe(described);
    answer.getErrorText();
    return 0;
}
