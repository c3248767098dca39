#pragma once

#include <memory>
#include <vector>

#include "String.h"

// One element of an XMLTree, owned by its parent (the root by its tree).
struct XMLTreeNode {
    struct Attribute {
        String name;
        String value;
    };

    XMLTreeNode() = default;
    XMLTreeNode(const XMLTreeNode&) = delete;
    XMLTreeNode& operator=(const XMLTreeNode&) = delete;
    // Frees the subtree without recursion, so a deeply nested document
    // cannot exhaust the stack.
    ~XMLTreeNode();

    String name;
    int depth = 0;
    // Position among all children of the parent; 0 for the root.
    int index = 0;
    std::vector<std::unique_ptr<XMLTreeNode>> children;
    // In document order. A name a document repeats in another case is kept
    // twice, and its last value is the one read and replaced.
    std::vector<Attribute> attributes;
    XMLTreeNode* parent = nullptr;

    // Parent's path + "/" + name; "/" + name for the root. Made from the
    // parent chain on demand: a stored path per element would cost memory
    // growing with depth times name length for each element.
    String path() const;
    // The last attribute called `attributeName` (any case), or null.
    const Attribute* findAttribute(std::string_view attributeName) const;
    // Replaces the value of the attribute findAttribute finds in place
    // (keeping its position and spelling) or appends a new one.
    void setAttribute(const String& attributeName, const String& value);
    // Appends a child and returns it.
    XMLTreeNode& appendChild(const String& childName, int childDepth);
    // Frees the child at `position` with its subtree; later siblings move up.
    void removeChild(int position);
    // The heap and object bytes this element holds itself (not its children).
    size_t ownBytes() const;
};
