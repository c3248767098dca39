// URL parsing: what a URL prints must parse to the same URL.
#include "Exception.h"
#include "FuzzInput.h"
#include "net/URL.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    try {
        URL url(fuzzText(data, size));
        URL again(url.toString());
        if (!(url == again)) {
            __builtin_trap();
        }
    } catch (const Exception&) {
        // a malformed URL is refused; nothing else may escape
    }
    return 0;
}
