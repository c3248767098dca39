#include "VersionInfo.h"

#include <utility>

VersionInfo::VersionInfo(String version, String status, String desc, bool numeric)
    : version(std::move(version)),
      status(std::move(status)),
      desc(std::move(desc)),
      numeric(numeric) {}

bool VersionInfo::isSet() const {
    return !version.isEmpty();
}

String VersionInfo::toString() const {
    String text = version;
    if (!status.isEmpty()) {
        text.append(',').append(status);
    }
    if (!desc.isEmpty()) {
        text.append(',').append(desc);
    }
    return text;
}
