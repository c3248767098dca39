#include "RecordDocument.h"

#include "RecordReading.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

using namespace RecordReading;

namespace {

// Bytes below 0x20 and 0x7f become blanks.
void blankControlBytes(String& text) {
    for (int i = 0; i < text.length(); ++i) {
        unsigned char c = static_cast<unsigned char>(text.charAt(i));
        if (c < 0x20 || c == 0x7f) {
            text.setCharAt(i, ' ');
        }
    }
}

// A server's names, descriptions and version texts reach listings, logs
// and the inventory: a line break in them must not forge a line of its own
// there.
void blankServerText(LmPackageInfo& package) {
    LmProductInfo& product = package.product;
    for (String* text : {&product.name, &product.desc, &package.version.version,
                         &package.version.status, &package.version.desc}) {
        blankControlBytes(*text);
    }
}

}  // namespace

RecordDocument::RecordDocument(Source source) : source_(source) {
    clear();
}

void RecordDocument::clear() {
    parser_ = newXMLParser();
    parser_->setLimits(source_ == Source::kNetwork ? XMLLimits::network()
                                                   : XMLLimits::localState());
}

bool RecordDocument::parse(InputStream& in) {
    clear();
    return parser_->parse(in);
}

bool RecordDocument::parse(const String& text) {
    clear();
    return parser_->parse(text);
}

String RecordDocument::rootName() const {
    return parser_->getTree().getRootName();
}

std::unique_ptr<XMLNode> RecordDocument::findNode(const char* path) const {
    return hasDocument() ? getTree().getNode(path) : nullptr;
}

bool RecordDocument::visitChildren(const char* path,
                                   const std::function<void(const XMLNode&)>& visit) const {
    NodePtr parent = findNode(path);
    if (parent) {
        forEachChild(*parent, visit);
    }
    return parent != nullptr;
}

int RecordDocument::readPackageInfoList(Vector<LmPackageInfo>& out, bool listIsRoot) const {
    out.removeAll();
    const bool listed =
        visitChildren(listIsRoot ? "/" : "/PackageInfoList", [&](const XMLNode& node) {
            LmPackageInfo package;
            if (readPackage(node, package)) {
                if (source_ == Source::kNetwork) {
                    blankServerText(package);
                }
                out.add(package);
            }
        });
    return listed ? out.size() : -1;
}
