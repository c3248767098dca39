#pragma once

#include <memory>

#include "xml/XMLParser.h"
#include "xml/XMLTree.h"

// A new empty tree.
std::unique_ptr<XMLTree> newXMLTree();
// A new parser with its empty tree.
std::unique_ptr<XMLParser> newXMLParser();
