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
    std::vector<Attribute> attributes;  // in order of first appearance
    XMLTreeNode* parent = nullptr;

    // Parent's path + "/" + name; "/" + name for the root. Made from the
    // parent chain on demand: a stored path per element would cost memory
    // growing with depth times name length for each element.
    String path() const;
    // The first attribute called `attributeName` (any case), or null.
    const Attribute* findAttribute(std::string_view attributeName) const;
    // Replaces the value of an attribute of that name in place (keeping its
    // position and first spelling) or appends a new one.
    void setAttribute(const String& attributeName, const String& value);
    // Appends a child and returns it.
    XMLTreeNode& appendChild(const String& childName, int childDepth);
    // Frees the child at `position` with its subtree; later siblings move up.
    void removeChild(int position);
    // The heap and object bytes this element holds itself (not its children).
    size_t ownBytes() const;
};
