// Base64: decoding any text, and encoding then decoding any bytes, which
// must give the bytes back up to the first NUL.
#include <cstring>

#include "Base64.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    String bytes = fuzzText(data, size);
    Base64::decode(bytes);
    std::unique_ptr<char[]> out;
    int length = Base64::encode(bytes.data(), bytes.length(), out);
    if (length < 0 || static_cast<size_t>(length) != (size + 2) / 3 * 4) {
        __builtin_trap();
    }
    String decoded = Base64::decode(String(out.get(), length));
    size_t untilNul = strnlen(bytes.data(), size);
    if (decoded.str() != bytes.str().substr(0, untilNul)) {
        __builtin_trap();
    }
    return 0;
}
