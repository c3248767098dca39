#pragma once

#include <cstdint>
#include <memory>

#include "LmPackageInfo.h"
#include "LmPartialFileInfo.h"
#include "LmProduct.h"
#include "PlatformInfo.h"
#include "SizeLimit.h"
#include "String.h"
#include "Vector.h"
#include "io/InputStream.h"
#include "xml/XMLParser.h"
#include "xml/XMLTree.h"

// Turns XML documents into records: the responses of update servers and
// the client's own state documents. Each parse starts from a fresh parser
// with an empty document, which stays available until the next parse.
// No read throws: a missing document or element gives -1, false or an
// empty text, and unreadable numbers fall back to fixed defaults.
class LmUpdateParser {
public:
    LmUpdateParser();
    LmUpdateParser(const LmUpdateParser&) = delete;
    LmUpdateParser& operator=(const LmUpdateParser&) = delete;
    virtual ~LmUpdateParser() = default;

    // Which caps a document must keep to (XMLLimits): the answers of update
    // servers or the client's own state files (the default).
    enum class Source { kLocal, kNetwork };
    void setSource(Source source);
    Source getSource() const { return source_; }

    // Replaces the parser by a fresh one and parses the whole stream into it.
    bool parse(InputStream& in);
    // The same for a document held in memory (a response body).
    bool parse(const String& text);
    // Drops the document: every read fails until the next parse.
    void clear();

    // The current parser and its document; never null.
    XMLParser& getParser() { return *parser_; }
    const XMLParser& getParser() const { return *parser_; }
    XMLTree& getTree() { return parser_->getTree(); }
    const XMLTree& getTree() const { return parser_->getTree(); }
    // True when the last parse succeeded.
    bool isParsed() const { return parser_->isParsed(); }
    // What the last failed parse stopped at, for the log: an XML error or
    // the cap the document broke; "" after a good parse.
    const String& getErrorText() const { return parser_->getErrorText(); }

    // The root element's name as written in the document.
    String rootName() const;

    // Attribute code of /Result; -1 when absent, empty or not a number.
    int getResultCode() const;
    String getResultStatus() const;

    // Each list read empties out first and returns the count read, or -1
    // when there is no document or no list element.
    // Packages of "/" (listIsRoot) or of "/PackageInfoList"; a package with
    // fewer than five children is dropped. A package whose id, size or
    // version number does not fit is kept with its refusal set.
    int readPackageInfoList(Vector<LmPackageInfo>& out, bool listIsRoot) const;
    // host attributes of the children of /ServerList.
    int readServerList(Vector<String>& out) const;
    // Every child of the root, but one whose numbers do not fit.
    int readPartialFiles(Vector<LmPartialFileInfo>& out) const;
    // The products of /Inventory/Products. Entries with fewer than two
    // children, or an id or version number that does not fit, are skipped;
    // an entry with an unknown child fails the read with -1 (out keeps the
    // products read before it).
    int readInstalledProducts(Vector<LmProduct>& out) const;
    // The same, also giving each product's element position below Products.
    int readInstalledProducts(Vector<LmProduct>& out, Vector<int>& positions) const;
    // The first installed product with that id.
    bool findProduct(int32_t id, LmProduct& out) const;

    // /Inventory/PlatformInfo.
    bool readPlatformInfo(PlatformInfo& out) const;
    // /SizeLimit; true whenever there is a document.
    bool readSizeLimit(SizeLimit& out) const;

    // Parses conf/lm-delay-packages and reads its packages. 0, or -1 when
    // the file cannot be read (an unparsable file gives an empty list). A
    // package whose numbers do not fit is left out.
    int getDelayPackages(Vector<LmPackageInfo>& out);

    // Appends a text rendering of a register, verify, parameter-list,
    // update or service-map document to out; false for other documents.
    bool describe(String& out) const;

private:
    bool hasDocument() const { return parser_->isParsed(); }
    // The inventory's Products element; null without a document.
    std::unique_ptr<XMLNode> installedProducts() const;

    Source source_ = Source::kLocal;
    std::unique_ptr<XMLParser> parser_;
};
