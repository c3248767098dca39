// The host grammar: whatever it accepts must be safe to store in the
// settings and to put into a request line, and its answers must agree with
// each other.
#include <string_view>

#include "FuzzInput.h"
#include "HostValidator.h"

namespace {
constexpr std::string_view kNeverInAHost = " \t\r\n\"'<>&/@?#\\";

void check(bool condition) {
    if (!condition) {
        __builtin_trap();
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    String entry = fuzzText(data, size);
    bool withPort = HostValidator::isValid(entry, true);
    bool withoutPort = HostValidator::isValid(entry, false);
    check(!withoutPort || withPort);
    if (withPort) {
        std::string_view text(entry.c_str(), entry.length());
        check(!text.empty() && text.find_first_of(kNeverInAHost) == std::string_view::npos);
        for (char c : text) {
            check(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7f);
        }
        // Bracketing only ever touches a bare IPv6 literal, which is no
        // host:port entry on its own.
        check(HostValidator::withBrackets(entry) == entry);
    }
    if (HostValidator::isBareIpv6(entry)) {
        String bracketed = HostValidator::withBrackets(entry);
        check(HostValidator::isValid(bracketed, false));
        check(HostValidator::isValid(bracketed + ":443", true));
    }
    return 0;
}
