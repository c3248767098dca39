#pragma once

#include <initializer_list>
#include <memory>
#include <utility>

#include "LmPackageInfo.h"
#include "LmVersionInfo.h"
#include "String.h"
#include "Vector.h"
#include "xml/XMLTree.h"

// Builds the elements that the inventory, the request documents and the
// state files have in common. Elements are appended as last children and
// handed back as views rooted at them, so that equally named siblings
// (InstalledProduct, PackageInfo) never need addressing by path.
class LmDocumentWriter {
public:
    using Attributes = std::initializer_list<std::pair<const char*, String>>;

    // Appends `name` under the element at parentPath; a view of the new
    // element, or null when the parent is missing.
    static std::unique_ptr<XMLTree> appendElement(XMLTree& tree, const String& parentPath,
                                                  const char* name);
    // Sets the attributes on the element at path, in the given order.
    static void setAttributes(XMLTree& tree, const String& path, Attributes attributes);
    // Appends LmVersionInfo (numeric versions) or ExtVersionInfo under the
    // root of `element`.
    static void appendVersion(XMLTree& element, const LmVersionInfo& version);
    // Appends one PackageInfo under the root of `list`.
    static void appendPackage(XMLTree& list, const LmPackageInfo& package);
    // Writes the tree (declaration first) to path, replacing the file whole
    // (AtomicFileWriter). Logs "LmUpdate: cannot write PATH: ERROR" and
    // raises IOException when that fails.
    static void writeFile(const XMLTree& tree, const String& path);
};
