#pragma once

#include <memory>

#include "xml/XMLTree.h"
#include "xml/XMLTreeNode.h"

// The XMLTree that ExpatXMLParser fills. A shared tree is a view of part of
// another tree and never frees elements.
class ExpatXMLTree : public XMLTree {
public:
    ExpatXMLTree() = default;
    ~ExpatXMLTree() override = default;

    String getRootName() const override;
    std::unique_ptr<XMLTree> getSubtree(const String& path, int index = -1) override;
    bool addNode(const String& parentPath, const String& name, int index = -1) override;
    bool createNode(const String& path, int index = -1) override;
    bool removeNode(const String& parentPath, const String& name, int index = -1) override;
    bool removeNodeByAttribute(const String& parentPath, int index, const String& attributeName,
                               const String& attributeValue) override;
    bool getAttribute(const String& path, const String& name, String& value,
                      int index = -1) const override;
    bool setAttribute(const String& path, const String& name, const String& value,
                      int index = -1) override;
    bool getAttributeByPath(const String& attributePath, String& value,
                            int index = -1) const override;
    bool setAttributeByPath(const String& attributePath, const String& value,
                            int index = -1) override;
    std::unique_ptr<XMLNode> getNode(const String& path, int index = -1) const override;
    bool clear() override;
    void write(OutputStream& out) const override;
    void toString(String& text) const override;

    // What the elements of the tree hold in memory, in bytes: a measure that
    // grows with the document, whatever its shape.
    size_t storedBytes() const;

    // Parser callbacks. A parse starts with no current element, so a second
    // document merges into the existing root; an element starts (with the
    // null-terminated name/value array expat delivers) or ends.
    void beginParse();
    void startElement(const char* name, const char** attributes);
    void endElement();

private:
    explicit ExpatXMLTree(XMLTreeNode* sharedRoot) : root_(sharedRoot), shared_(true) {}

    XMLTreeNode* find(const String& path, int index) const;
    XMLTreeNode* findAttributeOwner(const String& path, String& name, int index) const;
    XMLTreeNode& makeRoot(const String& name);
    XMLTreeNode& append(XMLTreeNode& parent, const String& name);

    std::unique_ptr<XMLTreeNode> ownedRoot_;  // empty for a shared view
    XMLTreeNode* root_ = nullptr;
    int depth_ = 0;
    XMLTreeNode* current_ = nullptr;  // the element being filled while parsing
    bool shared_ = false;
};
