#pragma once

#include "xml/XMLNode.h"

class ExpatXMLNode : public XMLNode {
public:
    using XMLNode::XMLNode;

    String getName() const override;
    String getPath() const override;
    int getAttributeCount() const override;
    bool getAttribute(int index, String& name, String& value) const override;
    bool getAttribute(const String& name, String& value) const override;
    int getChildCount() const override;
    std::unique_ptr<XMLNode> getChild(int index) const override;
};
