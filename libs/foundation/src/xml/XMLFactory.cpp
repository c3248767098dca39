#include "xml/XMLFactory.h"

#include "xml/ExpatXMLParser.h"
#include "xml/ExpatXMLTree.h"

std::unique_ptr<XMLTree> newXMLTree() {
    return std::make_unique<ExpatXMLTree>();
}

std::unique_ptr<XMLParser> newXMLParser() {
    return std::make_unique<ExpatXMLParser>();
}
