#include "RecordReading.h"

#include "Exception.h"
#include "Utils.h"

namespace RecordReading {

namespace {

// A decimal attribute as read: absent (also when empty or not a number),
// a value, or a number too large to fit, which is never wrapped.
struct Number {
    std::optional<int32_t> value;
    bool tooLarge = false;
};

Number readNumber(const XMLNode& node, const char* name) {
    String text;
    if (!node.getAttribute(String(name), text) || text.isEmpty()) {
        return {};
    }
    try {
        std::optional<int32_t> value = parseFittingNumber(text);
        return {value, !value.has_value()};
    } catch (const Exception&) {
        return {};
    }
}

constexpr std::initializer_list<const char*> kVersionNumbers = {"major", "minor", "patchLevel",
                                                                "buildNum"};

// Notes on the package every number of part that must fit and does not.
void checkNumbers(const XMLNode& part, std::initializer_list<const char*> names,
                  LmPackageInfo& out) {
    String found = tooLargeNumbers(part, names);
    if (found.isEmpty()) {
        return;
    }
    out.refusal.append(out.refusal.isEmpty() ? "number out of range: " : ", ").append(found);
}

LmVersionInfo readNumericVersion(const XMLNode& node) {
    return LmVersionInfo(number(node, "major", 0), number(node, "minor", 0),
                         number(node, "patchLevel", 0), number(node, "buildNum", 0),
                         attribute(node, "status"), attribute(node, "desc"));
}

LmVersionInfo readTextVersion(const XMLNode& node) {
    LmVersionInfo version;
    version = VersionInfo(attribute(node, "version"), attribute(node, "status"),
                          attribute(node, "desc"), false);
    return version;
}

void readPackagePart(const XMLNode& node, LmPackageInfo& out) {
    const String name = node.getName();
    if (readVersion(node, out.version)) {
        checkNumbers(node, kVersionNumbers, out);
        return;
    }
    if (name.equalsIgnoreCase("ProductInfo")) {
        checkNumbers(node, {"id"}, out);
        readProductInfo(node, out.product);
    } else if (name.equalsIgnoreCase("PlatformInfo")) {
        readPlatform(node, out.platform);
    } else if (name.equalsIgnoreCase("DownloadInfo")) {
        checkNumbers(node, {"size"}, out);
        out.url = attribute(node, "url");
        out.md5 = attribute(node, "md5");
        out.sha256 = attribute(node, "sha256");
        out.signature = attribute(node, "signature");
        out.deltaIndex = attribute(node, "deltaIndex");
        out.time = attribute(node, "time");
        out.size = number(node, "size", 0);
        out.downloadResult = number(node, "result", 0);
    } else if (name.equalsIgnoreCase("RunInfo")) {
        out.format = attribute(node, "format");
        out.installScript = attribute(node, "installScript");
        out.runResult = number(node, "result", 0);
    }
}

}  // namespace

String attribute(const XMLNode& node, const char* name) {
    String value;
    node.getAttribute(String(name), value);
    return value;
}

std::optional<int32_t> optionalNumber(const XMLNode& node, const char* name) {
    return readNumber(node, name).value;
}

int32_t number(const XMLNode& node, const char* name, int32_t fallback) {
    return optionalNumber(node, name).value_or(fallback);
}

String tooLargeNumbers(const XMLNode& node, std::initializer_list<const char*> names) {
    String found;
    for (const char* name : names) {
        if (readNumber(node, name).tooLarge) {
            found.append(found.isEmpty() ? "" : ", ").append(name);
        }
    }
    return found;
}

String tooLargeVersionNumbers(const XMLNode& node) {
    return tooLargeNumbers(node, kVersionNumbers);
}

void readProductInfo(const XMLNode& node, LmProductInfo& out) {
    out.id = number(node, "id", -1);
    out.name = attribute(node, "name");
    out.desc = attribute(node, "desc");
    out.installPath = attribute(node, "installPath");
    out.serialNo = attribute(node, "serialNo");
    out.parent = attribute(node, "parent");
    out.langCode = attribute(node, "langCode");
    out.OEM = attribute(node, "OEM");
}

void readPlatform(const XMLNode& node, PlatformInfo& out) {
    out.arch = attribute(node, "arch");
    out.os = attribute(node, "os");
    out.vendor = attribute(node, "vendor");
    out.version = attribute(node, "version");
}

bool isVersionElement(const String& name) {
    return name.equalsIgnoreCase("LmVersionInfo") || name.equalsIgnoreCase("ExtVersionInfo");
}

bool readVersion(const XMLNode& node, LmVersionInfo& out) {
    const String name = node.getName();
    if (name.equalsIgnoreCase("LmVersionInfo")) {
        out = readNumericVersion(node);
        return true;
    }
    if (name.equalsIgnoreCase("ExtVersionInfo")) {
        out = readTextVersion(node);
        return true;
    }
    return false;
}

bool readPackage(const XMLNode& node, LmPackageInfo& out) {
    out.path = attribute(node, "path");
    out.file = attribute(node, "file");
    if (node.getChildCount() <= 4) {
        return false;
    }
    forEachChild(node, [&](const XMLNode& part) { readPackagePart(part, out); });
    return true;
}

}  // namespace RecordReading
