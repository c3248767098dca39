// Version text and the number readers behind it.
#include "Exception.h"
#include "FileNameRule.h"
#include "FuzzInput.h"
#include "LmVersionInfo.h"
#include "Utils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    String text = fuzzText(data, size);
    LmVersionInfo version(text, "s", "d");
    version.toString();
    isSafeFileName(text);
    try {
        std::optional<int32_t> fitting = parseFittingNumber(text);
        int wrapped = parseNumber(text, 10);
        if (fitting && *fitting != wrapped) {
            __builtin_trap();  // where the value fits, both readers agree
        }
    } catch (const Exception&) {
        // not a number
    }
    return 0;
}
