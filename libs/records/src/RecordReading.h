#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>

#include "LmPackageInfo.h"
#include "LmProductInfo.h"
#include "LmVersionInfo.h"
#include "PlatformInfo.h"
#include "String.h"
#include "xml/XMLNode.h"

// Reading records from the elements of a parsed document, for the answers
// of update servers and the client's state files alike. A number that does
// not fit is never read wrapped.
namespace RecordReading {

using NodePtr = std::unique_ptr<XMLNode>;

// Absent attributes read as the empty text.
String attribute(const XMLNode& node, const char* name);

// A decimal attribute; none when absent, empty, not a number or too large.
std::optional<int32_t> optionalNumber(const XMLNode& node, const char* name);
int32_t number(const XMLNode& node, const char* name, int32_t fallback);

// The names of the attributes of node, among names, whose number does not
// fit, each after ", ".
String tooLargeNumbers(const XMLNode& node, std::initializer_list<const char*> names);
// The same for the numbers of a numeric version element.
String tooLargeVersionNumbers(const XMLNode& node);

template <class Visit>
void forEachChild(const XMLNode& parent, Visit visit) {
    const int count = parent.getChildCount();
    for (int i = 0; i < count; ++i) {
        NodePtr child = parent.getChild(i);
        if (child) {
            visit(*child);
        }
    }
}

void readProductInfo(const XMLNode& node, LmProductInfo& out);
void readPlatform(const XMLNode& node, PlatformInfo& out);

bool isVersionElement(const String& name);
// The version element, if node is one.
bool readVersion(const XMLNode& node, LmVersionInfo& out);

// A package needs at least five children; fewer are dropped. One whose id,
// size or version number does not fit is read with its refusal set.
bool readPackage(const XMLNode& node, LmPackageInfo& out);

}  // namespace RecordReading
