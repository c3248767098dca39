// The update-answer reader: package list, server list, result code and the
// text rendering of an answer.
#include "FuzzInput.h"
#include "LmUpdateParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    LmUpdateParser parser;
    parser.setSource(LmUpdateParser::Source::kNetwork);
    parser.parse(fuzzText(data, size));
    Vector<LmPackageInfo> packages(0, 20);
    parser.readPackageInfoList(packages, false);
    parser.readPackageInfoList(packages, true);
    for (const LmPackageInfo& package : packages) {
        if (package.isUsable() && package.size < 0) {
            __builtin_trap();  // a usable package never has a negative size
        }
    }
    Vector<String> servers(0, 20);
    parser.readServerList(servers);
    parser.getResultCode();
    parser.getResultStatus();
    String described;
    parser.describe(described);
    parser.getErrorText();
    return 0;
}
