#pragma once

#include "String.h"

// A product version as text, with its release status word and description.
class VersionInfo {
public:
    VersionInfo() = default;
    VersionInfo(String version, String status, String desc, bool numeric);
    VersionInfo(const VersionInfo&) = default;
    VersionInfo& operator=(const VersionInfo&) = default;
    VersionInfo(VersionInfo&&) noexcept = default;
    VersionInfo& operator=(VersionInfo&&) noexcept = default;
    virtual ~VersionInfo() = default;

    // True when there is a version text at all.
    virtual bool isSet() const;

    // version[,status][,desc], without blanks.
    String toString() const;

    String version;
    String status;
    String desc;
    // The version also exists as four numbers (set only by LmVersionInfo).
    bool numeric = false;
};
