#pragma once

#include <memory>

#include "String.h"

class OutputStream;
class XMLNode;

// The declaration line that starts every written document.
inline constexpr char kXMLDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// An element tree without text content: elements with a name, attributes and
// children. Elements are addressed by paths relative to the root element
// ("/ServerList/Server" or "ServerList/Server"); "/", "" and the root's name
// name the root. An index below 0 picks the first match, otherwise the match
// whose position among all children of its parent equals the index.
// Lookups never throw: a missing element or attribute gives false or null.
class XMLTree {
public:
    XMLTree() = default;
    XMLTree(const XMLTree&) = delete;
    XMLTree& operator=(const XMLTree&) = delete;
    virtual ~XMLTree() = default;

    // Empty when the tree has no root.
    virtual String getRootName() const = 0;
    // A view whose root is the found element; deleting it frees nothing.
    virtual std::unique_ptr<XMLTree> getSubtree(const String& path, int index = -1) = 0;
    // Appends a child `name` to the found parent; on an empty tree a parent
    // path of "" or "/" creates the root.
    virtual bool addNode(const String& parentPath, const String& name, int index = -1) = 0;
    // Appends the last step of `path` to the element named by the steps
    // before it; on an empty tree a bare name creates the root.
    virtual bool createNode(const String& path, int index = -1) = 0;
    // index -1: the first child called `name` (any case); otherwise the
    // child at that position whatever its name.
    virtual bool removeNode(const String& parentPath, const String& name, int index = -1) = 0;
    // Removes the first child of the parent whose attribute matches (name and
    // value compared without regard to case). `index` is not used.
    virtual bool removeNodeByAttribute(const String& parentPath, int index,
                                       const String& attributeName,
                                       const String& attributeValue) = 0;
    // `name` may carry a sub-path below the element: "Server/host".
    virtual bool getAttribute(const String& path, const String& name, String& value,
                              int index = -1) const = 0;
    virtual bool setAttribute(const String& path, const String& name, const String& value,
                              int index = -1) = 0;
    // `attributePath` is an element path, "/", and the attribute name.
    virtual bool getAttributeByPath(const String& attributePath, String& value,
                                    int index = -1) const = 0;
    virtual bool setAttributeByPath(const String& attributePath, const String& value,
                                    int index = -1) = 0;
    // A view of the found element, or null. The view must not outlive it.
    virtual std::unique_ptr<XMLNode> getNode(const String& path, int index = -1) const = 0;
    // Frees every element (a view of another tree is left unchanged).
    virtual bool clear() = 0;
    // The declaration line, then one element per line, no indentation.
    virtual void write(OutputStream& out) const = 0;
    // Replaces `text` with what write() would produce.
    virtual void toString(String& text) const = 0;
};
