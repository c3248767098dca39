#include "xml/XMLTreeNode.h"

#include <string_view>
#include <utility>

XMLTreeNode::~XMLTreeNode() {
    // Detach every descendant into a flat work list; each node is destroyed
    // only after its own children were taken away from it.
    std::vector<std::unique_ptr<XMLTreeNode>> pending = std::move(children);
    while (!pending.empty()) {
        std::unique_ptr<XMLTreeNode> node = std::move(pending.back());
        pending.pop_back();
        for (auto& child : node->children) {
            pending.push_back(std::move(child));
        }
        node->children.clear();
    }
}

String XMLTreeNode::path() const {
    std::vector<const XMLTreeNode*> chain;
    size_t length = 0;
    for (const XMLTreeNode* node = this; node != nullptr; node = node->parent) {
        chain.push_back(node);
        length += 1 + node->name.str().size();
    }
    std::string text;
    text.reserve(length);
    for (auto node = chain.rbegin(); node != chain.rend(); ++node) {
        text += '/';
        text += (*node)->name.view();
    }
    return String(std::move(text));
}

namespace {

// The last attribute called `name` in any case, or null.
template <class Attributes>
auto lastNamed(Attributes& attributes, std::string_view name) -> decltype(&attributes.front()) {
    for (auto attribute = attributes.rbegin(); attribute != attributes.rend(); ++attribute) {
        if (attribute->name.equalsIgnoreCase(name)) {
            return &*attribute;
        }
    }
    return nullptr;
}

}  // namespace

const XMLTreeNode::Attribute* XMLTreeNode::findAttribute(std::string_view attributeName) const {
    return lastNamed(attributes, attributeName);
}

void XMLTreeNode::setAttribute(const String& attributeName, const String& value) {
    if (Attribute* attribute = lastNamed(attributes, attributeName.view())) {
        attribute->value = value;
    } else {
        attributes.push_back({attributeName, value});
    }
}

XMLTreeNode& XMLTreeNode::appendChild(const String& childName, int childDepth) {
    auto child = std::make_unique<XMLTreeNode>();
    child->name = childName;
    child->depth = childDepth;
    child->index = static_cast<int>(children.size());
    child->parent = this;
    children.push_back(std::move(child));
    return *children.back();
}

void XMLTreeNode::removeChild(int position) {
    children.erase(children.begin() + position);
    for (size_t i = static_cast<size_t>(position); i < children.size(); ++i) {
        --children[i]->index;
    }
}

size_t XMLTreeNode::ownBytes() const {
    size_t bytes = sizeof(XMLTreeNode) + name.str().capacity();
    bytes += children.capacity() * sizeof(children[0]);
    bytes += attributes.capacity() * sizeof(Attribute);
    for (const Attribute& attribute : attributes) {
        bytes += attribute.name.str().capacity() + attribute.value.str().capacity();
    }
    return bytes;
}
