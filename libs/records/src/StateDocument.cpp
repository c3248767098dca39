#include "StateDocument.h"

#include <optional>
#include <utility>

#include "Exception.h"
#include "InstallRoot.h"
#include "RecordReading.h"
#include "StateFileNames.h"
#include "SystemLog.h"
#include "io/FileInputStream.h"
#include "xml/XMLNode.h"

using namespace RecordReading;

namespace {

// Like forEachChild, but stops when visit returns false; false then.
template <class Visit>
bool everyChild(const XMLNode& parent, Visit visit) {
    const int count = parent.getChildCount();
    for (int i = 0; i < count; ++i) {
        NodePtr child = parent.getChild(i);
        if (child && !visit(*child)) {
            return false;
        }
    }
    return true;
}

// An InstalledProduct entry; false for an unknown child element.
bool readInstalledProduct(const XMLNode& node, LmProduct& out) {
    return everyChild(node, [&](const XMLNode& part) {
        if (readVersion(part, out.version)) {
            return true;
        }
        if (part.getName().equalsIgnoreCase("ProductInfo")) {
            readProductInfo(part, out.info);
            return true;
        }
        return false;
    });
}

// Whether every id and version number of an InstalledProduct entry fits;
// one that does not is ignored rather than read wrapped.
bool productNumbersFit(const XMLNode& node) {
    return everyChild(node, [&](const XMLNode& part) {
        const String name = part.getName();
        if (isVersionElement(name)) {
            return tooLargeVersionNumbers(part).isEmpty();
        }
        return !name.equalsIgnoreCase("ProductInfo") || tooLargeNumbers(part, {"id"}).isEmpty();
    });
}

bool partialFileNumbersFit(const XMLNode& node) {
    return tooLargeNumbers(node, {"productID", "size", "actualSize"}).isEmpty();
}

// Calls visit(product, position) for each entry of products with both its
// children, in order, until visit returns false. False when an entry cannot
// be read; the entries before it have been visited.
template <class Visit>
bool visitInstalledProducts(const XMLNode& products, Visit visit) {
    const int count = products.getChildCount();
    for (int i = 0; i < count; ++i) {
        NodePtr entry = products.getChild(i);
        if (!entry || entry->getChildCount() < 2) {
            continue;
        }
        LmProduct product;
        if (!readInstalledProduct(*entry, product)) {
            return false;
        }
        if (!productNumbersFit(*entry)) {
            continue;
        }
        if (!visit(product, i)) {
            return true;
        }
    }
    return true;
}

LmPartialFileInfo readPartialFile(const XMLNode& node) {
    LmPartialFileInfo info;
    info.productID = number(node, "productID", -1);
    info.url = attribute(node, "url");
    info.path = attribute(node, "path");
    info.size = number(node, "size", -1);
    info.actualSize = number(node, "actualSize", -1);
    return info;
}

}  // namespace

int StateDocument::readPartialFiles(Vector<LmPartialFileInfo>& out) const {
    out.removeAll();
    const bool listed = visitChildren("/", [&](const XMLNode& node) {
        if (partialFileNumbersFit(node)) {
            out.add(readPartialFile(node));
        }
    });
    return listed ? out.size() : -1;
}

int StateDocument::readInstalledProducts(Vector<LmProduct>& out) const {
    Vector<int> positions(0, 20);
    return readInstalledProducts(out, positions);
}

int StateDocument::readInstalledProducts(Vector<LmProduct>& out, Vector<int>& positions) const {
    out.removeAll();
    positions.removeAll();
    NodePtr products = installedProducts();
    if (!products) {
        return -1;
    }
    const bool readAll = visitInstalledProducts(*products, [&](LmProduct& product, int position) {
        out.add(std::move(product));
        positions.add(position);
        return true;
    });
    return readAll ? out.size() : -1;
}

// Reads entries only up to the product: lookups per package and per parent
// need not copy the whole inventory each time.
bool StateDocument::findProduct(int32_t id, LmProduct& out) const {
    NodePtr products = installedProducts();
    bool found = false;
    if (products) {
        visitInstalledProducts(*products, [&](LmProduct& product, int) {
            if (product.info.id != id) {
                return true;
            }
            out = std::move(product);
            found = true;
            return false;
        });
    }
    return found;
}

std::unique_ptr<XMLNode> StateDocument::installedProducts() const {
    return findNode("/Inventory/Products");
}

bool StateDocument::readPlatformInfo(PlatformInfo& out) const {
    NodePtr platform = findNode("/Inventory/PlatformInfo");
    if (!platform) {
        return false;
    }
    readPlatform(*platform, out);
    return true;
}

bool StateDocument::readSizeLimit(SizeLimit& out) const {
    out.ids.removeAll();
    out.minSize = 0;
    if (!hasDocument()) {
        return false;
    }
    NodePtr limit = getTree().getNode("/SizeLimit");
    if (limit) {
        out.minSize = number(*limit, "MinSize", 0);
        forEachChild(*limit, [&](const XMLNode& node) {
            if (std::optional<int32_t> id = optionalNumber(node, "id")) {
                out.ids.add(*id);
            }
        });
    }
    return true;
}

int StateDocument::getDelayPackages(Vector<LmPackageInfo>& out) {
    out.removeAll();
    try {
        FileInputStream in(installPath(kDelayPackagesFile));
        parse(in);
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: get packages info failed: " + e.getMessage(),
                         LogPriority::kError);
        return -1;
    }
    Vector<LmPackageInfo> packages(0, 20);
    readPackageInfoList(packages, false);
    // A record of the state file that does not fit is ignored.
    for (const LmPackageInfo& package : packages) {
        if (package.isUsable()) {
            out.add(package);
        }
    }
    return 0;
}
