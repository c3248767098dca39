#include "state/StateFiles.h"

#include <memory>

#include "InstallRoot.h"
#include "LmNetConfig.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/AtomicFileWriter.h"
#include "io/FileInputStream.h"
#include "io/OutputStream.h"
#include "io/StringOutputStream.h"
#include "report/Report.h"
#include "state/ByteBudget.h"
#include "state/LmDocumentWriter.h"
#include "state/LmUpdateStore.h"
#include "state/PlatformDetector.h"
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
                                    {{"id", decimalText(kSelfProductId)},
                                     {"name", "Updater"},
                                     {"desc", "Torvane Updater"},
                                     {"installPath", installRoot()}});
    LmDocumentWriter::appendVersion(
        *entry, LmVersionInfo("1.0.0.0", "beta", "beta released on 2003/12/31"));
}

// Writes the document to path; false after logging failurePrefix and the
// reason.
bool writeDocument(const XMLTree& tree, const String& path, const char* failurePrefix) {
    try {
        LmDocumentWriter::writeFile(tree, path);
        return true;
    } catch (const Exception& e) {
        SystemLog::write(failurePrefix + e.getMessage(), LogPriority::kError);
        return false;
    }
}

// A document holding only the root element, written to relative below the
// root.
bool createEmptyDocument(const char* relative, const char* rootName) {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        return false;
    }
    tree->createNode(rootName);
    return writeDocument(*tree, installPath(relative), "");
}

// The four lines of one entry; each label is the attribute's name.
String lastUpdateText(const XMLNode& entry) {
    static const char* const kFields[] = {"LastUpdate", "LastSuccessUpdate", "LastUpdateStatus",
                                          "UpdateMessage"};
    String text;
    for (const char* field : kFields) {
        String value;
        entry.getAttribute(String(field), value);
        text.append(field).append(": ").append(value).append('\n');
    }
    return text;
}

// The text of every UpdateInfo entry by its ProductID; the first entry of an
// id counts.
LastUpdateTexts lastUpdateTexts(const XMLTree& document) {
    LastUpdateTexts texts;
    std::unique_ptr<XMLNode> updates = document.getNode("/UpdateInfo");
    const int count = updates ? updates->getChildCount() : 0;
    for (int i = 0; i < count; ++i) {
        std::unique_ptr<XMLNode> entry = updates->getChild(i);
        String id;
        if (entry && entry->getAttribute(String("ProductID"), id)) {
            texts.try_emplace(id.toLowerCase().str(), lastUpdateText(*entry));
        }
    }
    return texts;
}

// The package-list document; null when no tree can be made.
std::unique_ptr<XMLTree> packageListTree(const Vector<LmPackageInfo>& list, bool onlyIdentified) {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        SystemLog::write("LmUpdate: Cannot create default XML tree", LogPriority::kError);
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

bool createDefaultInventory() {
    std::unique_ptr<XMLTree> tree = newXMLTree();
    if (!tree) {
        SystemLog::write("LmUpdate: cannot obtain default XML tree", LogPriority::kError);
        return false;
    }
    buildDefaultInventory(*tree);
    return writeDocument(*tree, installPath(kInventoryFile), "");
}

LastUpdateTexts readLastUpdateTexts() {
    try {
        StateDocument parser;
        FileInputStream in(installPath(kLastUpdateFile));
        return parser.parse(in) ? lastUpdateTexts(parser.getTree()) : LastUpdateTexts();
    } catch (const Exception&) {
        // A missing or unreadable file means there is nothing to tell.
        return LastUpdateTexts();
    }
}

String lastUpdateInfo(const LastUpdateTexts& texts, int32_t productID) {
    auto found = texts.find(decimalText(productID).str());
    return found == texts.end() ? String() : found->second;
}

String getLastUpdateInfo(int32_t productID) {
    return lastUpdateInfo(readLastUpdateTexts(), productID);
}

void removeStaleTemporaryFiles(time_t now) {
    // No save takes this long; a temporary file this old was cut off.
    constexpr time_t kStaleAfter = 3600;
    for (const char* relative :
         {kInventoryFile, kPartialFilesFile, kDelayPackagesFile, kFailedPackagesFile,
          kNewPackagesFile, ByteBudget::kFile, LmNetConfig::kSettingsFile}) {
        AtomicFileWriter::removeStaleTemporaries(installPath(relative), now - kStaleAfter);
    }
}

bool createPartialFilesFile() {
    return createEmptyDocument(kPartialFilesFile, "PartialFiles");
}

bool createDelayPackagesFile() {
    return createEmptyDocument(kDelayPackagesFile, "PackageInfoList");
}

bool savePackages(const Vector<LmPackageInfo>& list, const String& path) {
    std::unique_ptr<XMLTree> tree = packageListTree(list, true);
    if (!tree) {
        return false;
    }
    return writeDocument(*tree, path, "LmUpdate: save package file failed: ");
}

bool packageListDocument(const Vector<LmPackageInfo>& list, String& document) {
    std::unique_ptr<XMLTree> tree = packageListTree(list, true);
    if (!tree) {
        return false;
    }
    StringOutputStream out;
    tree->write(out);
    document = out.getString();
    return true;
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
