#pragma once

#include <memory>

#include "String.h"

struct XMLTreeNode;

// A view of one element. The caller owns the view, the tree owns the element:
// the view is valid only while its tree still holds the element.
class XMLNode {
public:
    XMLNode(String path, int index, XMLTreeNode* element)
        : path_(std::move(path)), index_(index), element_(element) {}
    XMLNode(const XMLNode&) = delete;
    XMLNode& operator=(const XMLNode&) = delete;
    virtual ~XMLNode() = default;

    // Empty for an invalid view.
    virtual String getName() const = 0;
    // The path the view was looked up by.
    virtual String getPath() const = 0;
    // -1 for an invalid view.
    virtual int getAttributeCount() const = 0;
    // True when 0 <= index < count; `value` is emptied first.
    virtual bool getAttribute(int index, String& name, String& value) const = 0;
    // Names compared without regard to case; `value` is emptied first.
    virtual bool getAttribute(const String& name, String& value) const = 0;
    // -1 for an invalid view.
    virtual int getChildCount() const = 0;
    // A view of the child at that position, or null when out of range.
    virtual std::unique_ptr<XMLNode> getChild(int index) const = 0;
    bool isValid() const { return !path_.isEmpty() && element_ != nullptr; }

    int getIndex() const { return index_; }
    // Attributes and child names as plain text, for diagnostics.
    String dump() const;

protected:
    const String& storedPath() const { return path_; }
    XMLTreeNode* element() const { return element_; }

private:
    String path_;
    int index_;
    XMLTreeNode* element_;
};
