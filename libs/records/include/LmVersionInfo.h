#pragma once

#include <cstdint>

#include "VersionInfo.h"

// A version that may also exist as major.minor.patchLevel.buildNum. When
// numeric is false the four numbers are 0 and only the texts carry meaning;
// the flag decides whether documents get LmVersionInfo or ExtVersionInfo.
class LmVersionInfo : public VersionInfo {
public:
    LmVersionInfo() = default;
    LmVersionInfo(int32_t major, int32_t minor, int32_t patchLevel, int32_t buildNum, String status,
                  String desc);
    // Parses the version text; a token that is not a number stops the
    // parsing quietly and keeps what was read before it.
    LmVersionInfo(String versionText, String status, String desc);
    LmVersionInfo(const LmVersionInfo&) = default;
    LmVersionInfo& operator=(const LmVersionInfo&) = default;
    LmVersionInfo(LmVersionInfo&&) noexcept = default;
    LmVersionInfo& operator=(LmVersionInfo&&) noexcept = default;
    // Takes the texts and the flag of a plain version; numbers become 0.
    LmVersionInfo& operator=(const VersionInfo& other);

    bool isSet() const override;

    int32_t major = 0;
    int32_t minor = 0;
    int32_t patchLevel = 0;
    int32_t buildNum = 0;

private:
    void parseNumbers();
};
