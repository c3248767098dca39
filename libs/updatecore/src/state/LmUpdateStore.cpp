#include "state/LmUpdateStore.h"

#include <memory>

#include "InstallRoot.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/FileInputStream.h"
#include "report/Report.h"
#include "state/LmDocumentWriter.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

constexpr const char kProducts[] = "/Inventory/Products";
constexpr int kNotFound = -1;

// ProductInfo under the root of `entry`. Request documents leave out the
// install path; the inventory keeps it.
void appendProductInfo(XMLTree& entry, const LmProductInfo& info, bool withInstallPath) {
    entry.addNode("/", "ProductInfo");
    LmDocumentWriter::setAttributes(
        entry, "ProductInfo",
        {{"id", decimalText(info.id)}, {"name", info.name}, {"desc", info.desc}});
    if (withInstallPath) {
        entry.setAttribute("ProductInfo", "installPath", info.installPath);
    }
    LmDocumentWriter::setAttributes(entry, "ProductInfo",
                                    {{"serialNo", info.serialNo},
                                     {"parent", info.parent},
                                     {"langCode", info.langCode},
                                     {"OEM", info.OEM}});
}

// One product of a request document.
void appendRequestProduct(XMLTree& tree, const LmProduct& product, bool requested) {
    std::unique_ptr<XMLTree> entry =
        LmDocumentWriter::appendElement(tree, "/Inventory/Products", "InstalledProduct");
    appendProductInfo(*entry, product.info, false);
    if (requested) {
        entry->setAttribute("ProductInfo", "dependency", "true");
    }
    LmDocumentWriter::appendVersion(*entry, product.version);
}

bool appendRequestProducts(const StateDocument& parser, int32_t productID, XMLTree& tree) {
    if (productID == kSelfProductId) {
        LmProduct updater;
        if (!parser.findProduct(kSelfProductId, updater)) {
            return false;
        }
        appendRequestProduct(tree, updater, false);
        return true;
    }
    Vector<LmProduct> products(0, 20);
    if (parser.readInstalledProducts(products) <= 0) {
        return false;
    }
    for (const LmProduct& product : products) {
        appendRequestProduct(tree, product, product.info.id == productID);
    }
    return true;
}

// Position of the first entry of `list` whose key matches, from `from` on.
template <class T, class Key>
int indexOf(const Vector<T>& list, int from, Key key, int32_t id) {
    for (int i = from; i < list.size(); ++i) {
        if (key(list[i]) == id) {
            return i;
        }
    }
    return kNotFound;
}

int32_t productKey(const LmProduct& product) {
    return product.info.id;
}

int32_t partialKey(const LmPartialFileInfo& info) {
    return info.productID;
}

}  // namespace

LmUpdateStore& LmUpdateStore::instance() {
    static LmUpdateStore store;
    return store;
}

bool LmUpdateStore::load(const String& path) {
    if (path.isEmpty()) {
        return false;
    }
    path_ = path;
    // The old document must not outlive a failed open: a later save would
    // write it into the newly bound file.
    parser_.clear();
    FileInputStream in(path_);
    return parser_.parse(in);
}

bool LmUpdateStore::isLoaded() const {
    return parser_.isParsed();
}

bool LmUpdateStore::save() {
    try {
        LmDocumentWriter::writeFile(parser_.getTree(), path_);
        FileInputStream in(path_);
        parser_.parse(in);
        return true;
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: save inventory file failed: " + e.getMessage(),
                         LogPriority::kError);
        return false;
    }
}

int LmUpdateStore::getInstalledProducts(Vector<LmProduct>& out) const {
    return parser_.readInstalledProducts(out);
}

bool LmUpdateStore::findProduct(int32_t id, LmProduct& out) const {
    return parser_.findProduct(id, out);
}

bool LmUpdateStore::readPlatformInfo(PlatformInfo& out) const {
    return parser_.readPlatformInfo(out);
}

bool LmUpdateStore::addProduct(const LmProduct& product) {
    Vector<LmProduct> products(0, 20);
    getInstalledProducts(products);
    if (indexOf(products, 0, productKey, product.info.id) >= 0) {
        return false;
    }
    return appendProduct(product) && save();
}

bool LmUpdateStore::appendProduct(const LmProduct& product) {
    if (!isLoaded()) {
        return false;
    }
    std::unique_ptr<XMLTree> entry =
        LmDocumentWriter::appendElement(parser_.getTree(), kProducts, "InstalledProduct");
    if (!entry) {
        return false;
    }
    appendProductInfo(*entry, product.info, true);
    LmDocumentWriter::appendVersion(*entry, product.version);
    return true;
}

// Entries are removed at the position they were read from: reads skip
// entries with fewer than two children, so a product's index in the list
// need not be its element's position.
bool LmUpdateStore::dropProduct(int32_t id) {
    Vector<LmProduct> products(0, 20);
    Vector<int> positions(0, 20);
    if (parser_.readInstalledProducts(products, positions) < 1) {
        return false;
    }
    for (int i = indexOf(products, 0, productKey, id); i >= 0;
         i = indexOf(products, i + 1, productKey, id)) {
        if (parser_.getTree().removeNode(kProducts, "", positions[i])) {
            return true;
        }
    }
    return false;
}

bool LmUpdateStore::removeProduct(int32_t id) {
    return dropProduct(id) && save();
}

// One save: a power cut leaves the old entry or the new one, never neither.
bool LmUpdateStore::replaceProduct(const LmProduct& product) {
    while (dropProduct(product.info.id)) {
    }
    return appendProduct(product) && save();
}

bool LmUpdateStore::registerProduct(int32_t id, const LmProduct& product) {
    try {
        load(installPath(kInventoryFile));
        LmProduct working = product;
        LmProduct existing;
        if (findProduct(id, existing)) {
            working.info.parent = existing.info.parent;
            working.info.serialNo = existing.info.serialNo;
            working.info.langCode = existing.info.langCode;
            working.info.OEM = existing.info.OEM;
        }
        return replaceProduct(working);
    } catch (const Exception& e) {
        SystemLog::write(e.getMessage(), LogPriority::kError);
        return false;
    }
}

bool LmUpdateStore::registerPackage(int32_t id, const LmPackageInfo& package) {
    return registerProduct(id, LmProduct{package.version, package.product});
}

bool LmUpdateStore::buildRequest(int32_t productID, String& out) const {
    out.clear();
    std::unique_ptr<XMLTree> tree = newXMLTree();
    PlatformInfo platform;
    if (!tree || !readPlatformInfo(platform)) {
        return false;
    }
    tree->createNode(productID == kSelfProductId ? "LmSelfUpdateRequest" : "LmUpdateRequest");
    tree->createNode("Inventory");
    tree->createNode("Inventory/Platform");
    LmDocumentWriter::setAttributes(*tree, "Inventory/Platform",
                                    {{"os", platform.os},
                                     {"vendor", platform.vendor},
                                     {"arch", platform.arch},
                                     {"version", platform.version}});
    tree->createNode("Inventory/Products");
    if (!appendRequestProducts(parser_, productID, *tree)) {
        return false;
    }
    tree->toString(out);
    return true;
}

bool LmUpdateStore::getPartialFile(int32_t productID, LmPartialFileInfo& out) const {
    Vector<LmPartialFileInfo> files(0, 20);
    if (parser_.readPartialFiles(files) < 1) {
        return false;
    }
    const int i = indexOf(files, 0, partialKey, productID);
    if (i < 0) {
        return false;
    }
    out = files[i];
    return true;
}

bool LmUpdateStore::dropPartialFile(int32_t productID) {
    Vector<LmPartialFileInfo> files(0, 20);
    if (parser_.readPartialFiles(files) < 1) {
        return false;
    }
    for (int i = indexOf(files, 0, partialKey, productID); i >= 0;
         i = indexOf(files, i + 1, partialKey, productID)) {
        if (parser_.getTree().removeNode("/", "PartialFile", i)) {
            return true;
        }
    }
    return false;
}

bool LmUpdateStore::removePartialFile(int32_t productID) {
    return dropPartialFile(productID) && save();
}

// One save: a power cut between dropping the old entry and writing the new
// one would lose what a resume needs.
bool LmUpdateStore::setPartialFile(int32_t productID, const LmPartialFileInfo& info) {
    while (dropPartialFile(productID)) {
    }
    if (!isLoaded()) {
        return false;
    }
    std::unique_ptr<XMLTree> entry =
        LmDocumentWriter::appendElement(parser_.getTree(), "/", "PartialFile");
    if (!entry) {
        return false;
    }
    LmDocumentWriter::setAttributes(*entry, "/",
                                    {{"productID", decimalText(info.productID)},
                                     {"url", info.url},
                                     {"path", info.path},
                                     {"size", decimalText(info.size)},
                                     {"actualSize", decimalText(info.actualSize)}});
    entry.reset();
    return save();
}

bool LmUpdateStore::getSizeLimit(SizeLimit& out) const {
    return parser_.readSizeLimit(out);
}
