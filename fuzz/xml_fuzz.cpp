// The XML parser and the tree's lookups: a document, then NUL-separated
// paths to look up, read attributes of and edit. A parsed document
// written out must parse again.
#include "FuzzInput.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<String> pieces = fuzzPieces(data, size);
    auto parser = newXMLParser();
    parser->setLimits(XMLLimits::network());
    if (!parser->parse(pieces[0])) {
        return 0;
    }
    XMLTree& tree = parser->getTree();
    // What the tree writes must parse again.
    String text;
    tree.toString(text);
    if (!newXMLParser()->parse(text)) {
        __builtin_trap();
    }
    for (size_t i = 1; i < pieces.size(); ++i) {
        const String& path = pieces[i];
        int index = static_cast<int>(i % 3) - 1;
        String value;
        tree.getAttributeByPath(path, value, index);
        tree.getAttribute(path, "id", value, index);
        if (std::unique_ptr<XMLNode> node = tree.getNode(path, index)) {
            node->dump();
            node->getPath();
        }
        if (std::unique_ptr<XMLTree> subtree = tree.getSubtree(path, index)) {
            subtree->getNode("/");
        }
        tree.setAttributeByPath(path, "v", index);
        tree.createNode(path, index);
        tree.removeNode(path, "a", index);
    }
    tree.toString(text);
    return 0;
}
