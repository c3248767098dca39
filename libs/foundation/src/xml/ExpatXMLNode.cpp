#include "xml/ExpatXMLNode.h"

#include "xml/XMLTreeNode.h"

String ExpatXMLNode::getName() const {
    return isValid() ? element()->name : String();
}

String ExpatXMLNode::getPath() const {
    return storedPath();
}

int ExpatXMLNode::getAttributeCount() const {
    return isValid() ? static_cast<int>(element()->attributes.size()) : -1;
}

bool ExpatXMLNode::getAttribute(int index, String& name, String& value) const {
    value.clear();
    if (index < 0 || index >= getAttributeCount()) {
        return false;
    }
    const XMLTreeNode::Attribute& attribute = element()->attributes[static_cast<size_t>(index)];
    name = attribute.name;
    value = attribute.value;
    return true;
}

bool ExpatXMLNode::getAttribute(const String& name, String& value) const {
    value.clear();
    if (!isValid()) {
        return false;
    }
    const XMLTreeNode::Attribute* attribute = element()->findAttribute(name.view());
    if (attribute == nullptr) {
        return false;
    }
    value = attribute->value;
    return true;
}

int ExpatXMLNode::getChildCount() const {
    return isValid() ? static_cast<int>(element()->children.size()) : -1;
}

std::unique_ptr<XMLNode> ExpatXMLNode::getChild(int index) const {
    if (index < 0 || index >= getChildCount()) {
        return nullptr;
    }
    XMLTreeNode* child = element()->children[static_cast<size_t>(index)].get();
    return std::make_unique<ExpatXMLNode>(child->path(), -1, child);
}
