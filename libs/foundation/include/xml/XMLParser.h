#pragma once

#include "String.h"
#include "xml/XMLLimits.h"

class InputStream;
class OutputStream;
class XMLTree;

// A parser that owns one XMLTree. Parsing into a tree that already has a root
// merges into it: users that want a fresh document use a fresh parser.
class XMLParser {
public:
    XMLParser() = default;
    XMLParser(const XMLParser&) = delete;
    XMLParser& operator=(const XMLParser&) = delete;
    virtual ~XMLParser() = default;

    // True when the whole stream parsed; sets the parsed flag.
    virtual bool parse(InputStream& in) = 0;
    // False at once for an empty text (flag unchanged); otherwise parses the
    // text in one piece and sets the parsed flag.
    virtual bool parse(const String& text) = 0;
    // The declaration and the tree.
    virtual void write(OutputStream& out) const = 0;
    // Appends the declaration and the tree text to `text`.
    virtual void toString(String& text) const = 0;

    virtual XMLTree& getTree() = 0;
    virtual const XMLTree& getTree() const = 0;
    // The result of the last parse; false before any.
    virtual bool isParsed() const = 0;
    // What the last failed parse stopped at ("" after a good one).
    virtual const String& getErrorText() const = 0;
    // The caps every later parse keeps to (XMLLimits' defaults until set).
    virtual void setLimits(const XMLLimits& limits) = 0;
    virtual const XMLLimits& getLimits() const = 0;
};
