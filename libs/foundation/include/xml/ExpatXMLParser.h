#pragma once

#include "xml/ExpatXMLTree.h"
#include "xml/XMLParser.h"

// Reads documents with libexpat into its tree. Text between tags, comments
// and processing instructions are dropped; all data lives in attributes.
// Errors are reported through the result; the last one's text is kept.
class ExpatXMLParser : public XMLParser {
public:
    ExpatXMLParser() = default;

    bool parse(InputStream& in) override;
    bool parse(const String& text) override;
    void write(OutputStream& out) const override;
    void toString(String& text) const override;

    ExpatXMLTree& getTree() override { return tree_; }
    const ExpatXMLTree& getTree() const override { return tree_; }
    bool isParsed() const override { return parsed_; }
    const String& getErrorText() const override { return errorText_; }
    void setLimits(const XMLLimits& limits) override { limits_ = limits; }
    const XMLLimits& getLimits() const override { return limits_; }

private:
    ExpatXMLTree tree_;
    XMLLimits limits_;
    bool parsed_ = false;
    String errorText_;
};
