#pragma once

#include <functional>
#include <memory>

#include "LmPackageInfo.h"
#include "String.h"
#include "Vector.h"
#include "io/InputStream.h"
#include "xml/XMLParser.h"
#include "xml/XMLTree.h"

// An XML document that records are read from: an update server's answer
// (ServerAnswer) or one of the client's own state files (StateDocument).
// Each parse starts from a fresh parser with an empty document, which stays
// available until the next parse. No read throws: a missing document or
// element gives -1, false or an empty text, and unreadable numbers fall
// back to fixed defaults.
class RecordDocument {
public:
    RecordDocument(const RecordDocument&) = delete;
    RecordDocument& operator=(const RecordDocument&) = delete;
    virtual ~RecordDocument() = default;

    // Which caps a document must keep to (XMLLimits): the answers of update
    // servers or the client's own state files.
    enum class Source { kLocal, kNetwork };
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

    // Answers announce packages, and the client keeps package lists too.
    // Empties out first and returns the count read, or -1 when there is no
    // document or no list element. Packages of "/" (listIsRoot) or of
    // "/PackageInfoList"; a package with fewer than five children is
    // dropped. A package whose id, size or version number does not fit is
    // kept with its refusal set.
    int readPackageInfoList(Vector<LmPackageInfo>& out, bool listIsRoot) const;

protected:
    explicit RecordDocument(Source source);

    bool hasDocument() const { return parser_->isParsed(); }
    // The element at path; null without a document or without the element.
    std::unique_ptr<XMLNode> findNode(const char* path) const;
    // Calls visit for each child of the element at path; false, visiting
    // none, without a document or without the element.
    bool visitChildren(const char* path, const std::function<void(const XMLNode&)>& visit) const;

private:
    Source source_;
    std::unique_ptr<XMLParser> parser_;
};
