#include "xml/XMLNode.h"

String XMLNode::dump() const {
    String text("Attributes: \n");
    String name;
    String value;
    for (int i = 0; getAttribute(i, name, value); ++i) {
        text.append(name).append("=\"").append(value).append("\" ");
    }
    text.append("\nChilds : \n");
    for (int i = 0; i < getChildCount(); ++i) {
        text.append(getChild(i)->getName()).append('\n');
    }
    return text;
}
