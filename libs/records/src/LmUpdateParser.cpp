#include "LmUpdateParser.h"

#include <initializer_list>
#include <optional>
#include <utility>

#include "InstallRoot.h"
#include "StateFileNames.h"
#include "SystemLog.h"
#include "Utils.h"
#include "io/FileInputStream.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

using NodePtr = std::unique_ptr<XMLNode>;

// Absent attributes read as the empty text.
String attribute(const XMLNode& node, const char* name) {
    String value;
    node.getAttribute(String(name), value);
    return value;
}

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

std::optional<int32_t> optionalNumber(const XMLNode& node, const char* name) {
    return readNumber(node, name).value;
}

int32_t number(const XMLNode& node, const char* name, int32_t fallback) {
    return optionalNumber(node, name).value_or(fallback);
}

// The names of the attributes of node, among names, whose number does not
// fit, each after ", ".
String tooLargeNumbers(const XMLNode& node, std::initializer_list<const char*> names) {
    String found;
    for (const char* name : names) {
        if (readNumber(node, name).tooLarge) {
            found.append(found.isEmpty() ? "" : ", ").append(name);
        }
    }
    return found;
}

// Notes on the package every number of part that must fit and does not.
void checkNumbers(const XMLNode& part, std::initializer_list<const char*> names,
                  LmPackageInfo& out) {
    String found = tooLargeNumbers(part, names);
    if (found.isEmpty()) {
        return;
    }
    out.refusal.append(out.refusal.isEmpty() ? "number out of range: " : ", ").append(found);
}

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

bool isVersionElement(const String& name) {
    return name.equalsIgnoreCase("LmVersionInfo") || name.equalsIgnoreCase("ExtVersionInfo");
}

// The version element, if node is one.
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

void readPlatform(const XMLNode& node, PlatformInfo& out) {
    out.arch = attribute(node, "arch");
    out.os = attribute(node, "os");
    out.vendor = attribute(node, "vendor");
    out.version = attribute(node, "version");
}

constexpr std::initializer_list<const char*> kVersionNumbers = {"major", "minor", "patchLevel",
                                                                "buildNum"};

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
        out.time = attribute(node, "time");
        out.size = number(node, "size", 0);
        out.downloadResult = number(node, "result", 0);
    } else if (name.equalsIgnoreCase("RunInfo")) {
        out.format = attribute(node, "format");
        out.installScript = attribute(node, "installScript");
        out.runResult = number(node, "result", 0);
    }
}

// A package needs at least five children; fewer are dropped.
bool readPackage(const XMLNode& node, LmPackageInfo& out) {
    out.path = attribute(node, "path");
    out.file = attribute(node, "file");
    if (node.getChildCount() <= 4) {
        return false;
    }
    forEachChild(node, [&](const XMLNode& part) { readPackagePart(part, out); });
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
            return tooLargeNumbers(part, kVersionNumbers).isEmpty();
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

// key + ":" + value as one line, when the node has both attributes.
void appendPair(const XMLNode& node, const char* keyName, const char* valueName, String& out) {
    String key;
    String value;
    if (node.getAttribute(String(keyName), key) && node.getAttribute(String(valueName), value)) {
        out.append(key).append(':').append(value).append('\n');
    }
}

String lastPathSegment(const String& url) {
    const int slash = url.lastIndexOf('/');
    return slash < 0 ? url : url.substring(slash + 1);
}

bool isOneOf(const String& name, const char* first, const char* second) {
    return name.equalsIgnoreCase(first) || name.equalsIgnoreCase(second);
}

// Register and verify responses: the server time, then the parameters of
// every group.
void describeResponse(const XMLNode& root, String& out) {
    out.append(root.getName()).append("-CurrentTime:");
    out.append(attribute(root, "CurrentTime")).append('\n');
    forEachChild(root, [&](const XMLNode& group) {
        forEachChild(
            group, [&](const XMLNode& parameter) { appendPair(parameter, "name", "value", out); });
    });
}

void describeParameters(const XMLNode& root, String& out) {
    forEachChild(root,
                 [&](const XMLNode& parameter) { appendPair(parameter, "name", "value", out); });
}

void describePackages(const Vector<LmPackageInfo>& packages, String& out) {
    for (const LmPackageInfo& package : packages) {
        out.append("version:").append(package.version.version).append('\n');
        out.append("format:").append(package.format).append('\n');
        out.append("filename:").append(lastPathSegment(package.url)).append('\n');
    }
}

void describeServices(const XMLNode& root, String& out) {
    forEachChild(root,
                 [&](const XMLNode& entry) { appendPair(entry, "service", "productID", out); });
}

XMLLimits limitsFor(LmUpdateParser::Source source) {
    return source == LmUpdateParser::Source::kNetwork ? XMLLimits::network()
                                                      : XMLLimits::localState();
}

}  // namespace

LmUpdateParser::LmUpdateParser() {
    clear();
}

void LmUpdateParser::setSource(Source source) {
    source_ = source;
    parser_->setLimits(limitsFor(source_));
}

void LmUpdateParser::clear() {
    parser_ = newXMLParser();
    parser_->setLimits(limitsFor(source_));
}

bool LmUpdateParser::parse(InputStream& in) {
    clear();
    return parser_->parse(in);
}

bool LmUpdateParser::parse(const String& text) {
    clear();
    return parser_->parse(text);
}

String LmUpdateParser::rootName() const {
    return parser_->getTree().getRootName();
}

int LmUpdateParser::getResultCode() const {
    NodePtr result = hasDocument() ? getTree().getNode("/Result") : nullptr;
    return result ? number(*result, "code", -1) : -1;
}

String LmUpdateParser::getResultStatus() const {
    NodePtr result = hasDocument() ? getTree().getNode("/Result") : nullptr;
    return result ? attribute(*result, "status") : String();
}

int LmUpdateParser::readPackageInfoList(Vector<LmPackageInfo>& out, bool listIsRoot) const {
    out.removeAll();
    NodePtr list =
        hasDocument() ? getTree().getNode(listIsRoot ? "/" : "/PackageInfoList") : nullptr;
    if (!list) {
        return -1;
    }
    forEachChild(*list, [&](const XMLNode& node) {
        LmPackageInfo package;
        if (readPackage(node, package)) {
            out.add(package);
        }
    });
    return out.size();
}

int LmUpdateParser::readServerList(Vector<String>& out) const {
    out.removeAll();
    NodePtr list = hasDocument() ? getTree().getNode("/ServerList") : nullptr;
    if (!list) {
        return -1;
    }
    forEachChild(*list, [&](const XMLNode& node) {
        String host;
        if (node.getAttribute(String("host"), host)) {
            out.add(host);
        }
    });
    return out.size();
}

int LmUpdateParser::readPartialFiles(Vector<LmPartialFileInfo>& out) const {
    out.removeAll();
    NodePtr root = hasDocument() ? getTree().getNode("/") : nullptr;
    if (!root) {
        return -1;
    }
    forEachChild(*root, [&](const XMLNode& node) {
        if (partialFileNumbersFit(node)) {
            out.add(readPartialFile(node));
        }
    });
    return out.size();
}

int LmUpdateParser::readInstalledProducts(Vector<LmProduct>& out) const {
    Vector<int> positions(0, 20);
    return readInstalledProducts(out, positions);
}

int LmUpdateParser::readInstalledProducts(Vector<LmProduct>& out, Vector<int>& positions) const {
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
bool LmUpdateParser::findProduct(int32_t id, LmProduct& out) const {
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

std::unique_ptr<XMLNode> LmUpdateParser::installedProducts() const {
    return hasDocument() ? getTree().getNode("/Inventory/Products") : nullptr;
}

bool LmUpdateParser::readPlatformInfo(PlatformInfo& out) const {
    NodePtr platform = hasDocument() ? getTree().getNode("/Inventory/PlatformInfo") : nullptr;
    if (!platform) {
        return false;
    }
    readPlatform(*platform, out);
    return true;
}

bool LmUpdateParser::readSizeLimit(SizeLimit& out) const {
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

int LmUpdateParser::getDelayPackages(Vector<LmPackageInfo>& out) {
    out.removeAll();
    try {
        FileInputStream in(installPath(kDelayPackagesFile));
        parse(in);
    } catch (const Exception& e) {
        SystemLog::write("LmUpdate: get packages info failed: " + e.getMessage());
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

bool LmUpdateParser::describe(String& out) const {
    NodePtr root = hasDocument() ? getTree().getNode("/") : nullptr;
    if (!root) {
        return false;
    }
    const String name = root->getName();
    if (isOneOf(name, "LmRegisterResponse", "LmVerifyResponse")) {
        describeResponse(*root, out);
    } else if (isOneOf(name, "LmRegisterInfo", "LmVerifyConfig")) {
        describeParameters(*root, out);
    } else if (name.equalsIgnoreCase("LmUpdateResponse")) {
        Vector<LmPackageInfo> packages(0, 20);
        readPackageInfoList(packages, false);
        describePackages(packages, out);
    } else if (name.equalsIgnoreCase("ServiceToProductID")) {
        describeServices(*root, out);
    } else {
        return false;
    }
    return true;
}
