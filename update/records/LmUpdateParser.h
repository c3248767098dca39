#pragma once

#include <memory>

#include "io/InputStream.h"
#include "xml/XMLParser.h"
#include "xml/XMLTree.h"

// Turns XML documents into records. Each parse starts from a fresh parser
// with an empty document, which stays available until the next parse.
class LmUpdateParser {
public:
    LmUpdateParser();
    LmUpdateParser(const LmUpdateParser&) = delete;
    LmUpdateParser& operator=(const LmUpdateParser&) = delete;
    virtual ~LmUpdateParser() = default;

    // Replaces the parser by a fresh one and parses the whole stream into it.
    bool parse(InputStream& in);

    // The current parser and its document; never null.
    XMLParser& getParser() { return *parser_; }
    const XMLParser& getParser() const { return *parser_; }
    XMLTree& getTree() { return parser_->getTree(); }
    const XMLTree& getTree() const { return parser_->getTree(); }
    // True when the last parse succeeded.
    bool isParsed() const { return parser_->isParsed(); }

private:
    std::unique_ptr<XMLParser> parser_;
};
