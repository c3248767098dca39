// The free operations on the inventory and state files.
#include <memory>

#include "InstallRoot.h"
#include "LmDocumentWriter.h"
#include "LmUpdateStore.h"
#include "PlatformDetector.h"
#include "SystemLog.h"
#include "io/FileInputStream.h"
#include "io/OutputStream.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

void buildDefaultInventory(XMLTree& tree) {
    tree.createNode("LmUpdateClientSettings");
    tree.createNode("Inventory");
    tree.createNode("Inventory/PlatformInfo");
    tree.createNode("Inventory/Products");
    const PlatformInfo platform = PlatformDetector::detect();
    LmDocumentWriter::setAttributes(tree, "Inventory/PlatformInfo",
                                    {{"os", platform.os},
                                     {"vendor", platform.vendor},
                                     {"arch", platform.arch},
                                     {"version", platform.version}});
    std::unique_ptr<XMLTree> entry =
        LmDocumentWriter::appendElement(tree, "Inventory/Products", "InstalledProduct");
    entry->addNode("/", "ProductInfo");
    LmDocumentWriter::setAttributes(*entry, "ProductInfo",
                                    {{"id", "1000"},
                                     {"name", "Updater"},
                                     {"desc", "Torvane Updater"},
                                     {"installPath", installRoot()}});
    LmDocumentWriter::appendVersion(
        *entry, LmVersionInfo("1.0.0.0", "beta", "beta released on 2003/12/31"));
}

// A document holding only the root element, written to relative below the
// root.
int createEmptyDocument(const char* relative, const char* rootName) {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        return -1;
    }
    tree->createNode(rootName);
    try {
        LmDocumentWriter::writeFile(*tree, installPath(relative));
        return 0;
    } catch (const Exception& e) {
        SystemLog::write(e.getMessage());
        return -1;
    }
}

String lastUpdateAttribute(const XMLNode& entry, const char* name) {
    String value;
    entry.getAttribute(String(name), value);
    return value;
}

String lastUpdateText(const XMLNode& entry) {
    String text;
    text.append("LastUpdate: ").append(lastUpdateAttribute(entry, "LastUpdate")).append('\n');
    text.append("LastSuccessUpdate: ")
        .append(lastUpdateAttribute(entry, "LastSuccessUpdate"))
        .append('\n');
    text.append("LastUpdateStatus: ")
        .append(lastUpdateAttribute(entry, "LastUpdateStatus"))
        .append('\n');
    text.append("UpdateMessage: ").append(lastUpdateAttribute(entry, "UpdateMessage")).append('\n');
    return text;
}

// The package-list document; null when no tree can be made.
std::unique_ptr<XMLTree> packageListTree(const Vector<LmPackageInfo>& list, bool onlyIdentified) {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        SystemLog::write("LmUpdate: Cannot create default XML tree");
        return nullptr;
    }
    tree->createNode("PackageInfoList");
    for (const LmPackageInfo& package : list) {
        if (onlyIdentified) {
            if (package.product.id == -1) {
                continue;
            }
            SystemLog::write(String("LmUpdate: save package id: ").append(package.product.id));
        }
        LmDocumentWriter::appendPackage(*tree, package);
    }
    return tree;
}

}  // namespace

int createDefaultInventory() {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        SystemLog::write("LmUpdate: cannot obtain default XML tree");
        return -1;
    }
    try {
        buildDefaultInventory(*tree);
        LmDocumentWriter::writeFile(*tree, installPath(kInventoryFile));
        return 0;
    } catch (const Exception& e) {
        SystemLog::write(e.getMessage());
        return -1;
    }
}

String getLastUpdateInfo(int32_t productID) {
    try {
        LmUpdateParser parser;
        FileInputStream in(installPath(kLastUpdateFile));
        if (!parser.parse(in)) {
            return String();
        }
        std::unique_ptr<XMLNode> updates = parser.getTree().getNode("/UpdateInfo");
        const String wanted = decimal(productID);
        const int count = updates ? updates->getChildCount() : 0;
        for (int i = 0; i < count; ++i) {
            std::unique_ptr<XMLNode> entry = updates->getChild(i);
            String id;
            if (entry && entry->getAttribute(String("ProductID"), id) &&
                id.equalsIgnoreCase(wanted)) {
                return lastUpdateText(*entry);
            }
        }
    } catch (const Exception&) {
        // A missing or unreadable file means there is nothing to tell.
    }
    return String();
}

int createPartialFilesFile() {
    return createEmptyDocument(kPartialFilesFile, "PartialFiles");
}

int createDelayPackagesFile() {
    return createEmptyDocument(kDelayPackagesFile, "PackageInfoList");
}

int savePackages(const Vector<LmPackageInfo>& list, const String& path) {
    std::unique_ptr<XMLTree> tree = packageListTree(list, true);
    if (!tree) {
        return -1;
    }
    try {
        LmDocumentWriter::writeFile(*tree, path);
        return 0;
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: save package file failed: " + e.getMessage());
        return -1;
    }
}

int writePackageList(OutputStream& to, const Vector<LmPackageInfo>& list) {
    if (list.isEmpty()) {
        return 0;
    }
    std::unique_ptr<XMLTree> tree = packageListTree(list, false);
    if (tree) {
        tree->write(to);
    }
    return list.size();
}
