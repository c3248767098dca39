#include "LmVersionInfo.h"

#include <utility>

#include "Utils.h"
#include "Vector.h"

namespace {

int32_t readDecimal(const String& token) {
    return parseNumber(token.c_str(), token.length(), 10);
}

}  // namespace

LmVersionInfo::LmVersionInfo(int32_t major, int32_t minor, int32_t patchLevel, int32_t buildNum,
                             String status, String desc)
    : VersionInfo(String(), std::move(status), std::move(desc), true),
      major(major),
      minor(minor),
      patchLevel(patchLevel),
      buildNum(buildNum) {
    version.append(major).append('.').append(minor).append('.');
    version.append(patchLevel).append('.').append(buildNum);
}

LmVersionInfo::LmVersionInfo(String versionText, String status, String desc)
    : VersionInfo(std::move(versionText), std::move(status), std::move(desc), false) {
    if (!version.isEmpty()) {
        parseNumbers();
    }
}

LmVersionInfo& LmVersionInfo::operator=(const VersionInfo& other) {
    VersionInfo::operator=(other);
    major = minor = patchLevel = buildNum = 0;
    return *this;
}

bool LmVersionInfo::isSet() const {
    return !version.isEmpty();
}

// Two tokens give major.minor, four give all numbers, three or more than
// four give major.minor.0.<third>. Stored servers and inventories depend on
// this reading, including keeping the fields read before a bad token.
void LmVersionInfo::parseNumbers() {
    Vector<String> tokens(0, 20);
    version.split(".-_", tokens);
    const int n = tokens.size();
    try {
        if (n > 1) {
            major = readDecimal(tokens[0]);
            minor = readDecimal(tokens[1]);
            numeric = true;
        }
        if (n == 4) {
            patchLevel = readDecimal(tokens[2]);
            buildNum = readDecimal(tokens[3]);
            numeric = true;
        }
        if (n == 3 || n > 4) {
            patchLevel = 0;
            buildNum = readDecimal(tokens[2]);
            numeric = true;
        }
    } catch (const Exception&) {
        // A word such as "beta" inside the version is not an error.
    }
}
