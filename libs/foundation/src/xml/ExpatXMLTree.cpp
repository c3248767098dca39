#include "xml/ExpatXMLTree.h"

#include <string_view>
#include <utility>
#include <vector>

#include "io/OutputStream.h"
#include "xml/ExpatXMLNode.h"

namespace {

bool isRootPath(const String& path, const XMLTreeNode& root) {
    return path.isEmpty() || path == "/" || path == root.name || path == "/" + root.name;
}

// The absolute path that a path relative to the root stands for.
String absolutePath(const String& path, const XMLTreeNode& root) {
    return path.startsWith("/") ? root.path() + path : root.path() + "/" + path;
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
    return String(a).equalsIgnoreCase(b);
}

// An element met by the search, with the length of its path. Every element
// but the first is entered only from a parent whose path is exactly the
// target's first parentLength bytes, so its own path is those bytes, "/"
// and its name: paths are compared step by step and never built.
struct Visit {
    XMLTreeNode* node;
    size_t parentLength;
};

// Whether the node's path equals target[0, end) ignoring case.
bool pathEndsAt(const Visit& visit, std::string_view target, size_t end) {
    std::string_view name = visit.node->name.view();
    return end == visit.parentLength + 1 + name.size() && target[visit.parentLength] == '/' &&
           equalIgnoringCase(target.substr(visit.parentLength + 1, name.size()), name);
}

bool matches(const Visit& visit, std::string_view target, int index) {
    if (pathEndsAt(visit, target, target.size()) && (index < 0 || visit.node->index == index)) {
        return true;
    }
    // A trailing "/" names the element itself.
    return target.ends_with('/') && pathEndsAt(visit, target, target.size() - 1);
}

// The same for the element a search starts at, whose path is at hand.
bool startMatches(const XMLTreeNode& start, std::string_view path, std::string_view target,
                  int index) {
    if (equalIgnoringCase(path, target) && (index < 0 || start.index == index)) {
        return true;
    }
    return target.ends_with('/') && target.size() == path.size() + 1 &&
           equalIgnoringCase(target.substr(0, path.size()), path);
}

// Whether the node's path is a case-sensitive prefix of the target.
bool leadsTo(const Visit& visit, std::string_view target) {
    std::string_view name = visit.node->name.view();
    return target.size() >= visit.parentLength + 1 + name.size() &&
           target[visit.parentLength] == '/' &&
           target.substr(visit.parentLength + 1, name.size()) == name;
}

// Queues the children so that the first is visited first.
void pushChildren(XMLTreeNode& parent, size_t parentLength, std::vector<Visit>& pending) {
    for (auto child = parent.children.rbegin(); child != parent.children.rend(); ++child) {
        pending.push_back({child->get(), parentLength});
    }
}

// Depth-first search in document order below and including start. Only
// elements whose path is a case-sensitive prefix of the target are entered.
XMLTreeNode* search(XMLTreeNode& start, const String& target, int index) {
    std::string_view wanted = target.view();
    const String startPath = start.path();
    if (startMatches(start, startPath.view(), wanted, index)) {
        return &start;
    }
    if (!wanted.starts_with(startPath.view())) {
        return nullptr;
    }
    std::vector<Visit> pending;
    pushChildren(start, startPath.str().size(), pending);
    while (!pending.empty()) {
        Visit visit = pending.back();
        pending.pop_back();
        if (matches(visit, wanted, index)) {
            return visit.node;
        }
        if (leadsTo(visit, wanted)) {
            pushChildren(*visit.node, visit.parentLength + 1 + visit.node->name.str().size(),
                         pending);
        }
    }
    return nullptr;
}

// Markup characters become entities so that any value survives a write and
// a parse; so do tab, line feed and carriage return, which a parser would
// otherwise read back as blanks.
void appendEscaped(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '\t':
                out += "&#9;";
                break;
            case '\n':
                out += "&#10;";
                break;
            case '\r':
                out += "&#13;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
}

std::string openingTag(const XMLTreeNode& node) {
    std::string text = "<" + node.name.str();
    for (const XMLTreeNode::Attribute& attribute : node.attributes) {
        text += ' ';
        text += attribute.name.view();
        text += "=\"";
        appendEscaped(text, attribute.value.view());
        text += '"';
    }
    text += node.children.empty() ? "/>\n" : ">\n";
    return text;
}

// Hands the document text to sink in pieces: the declaration, each opening
// tag, each closing tag. Iterative so that nesting depth costs no stack.
template <class Sink>
void render(const XMLTreeNode* root, Sink&& sink) {
    sink(std::string_view(kXMLDeclaration));
    if (root == nullptr) {
        return;
    }
    struct Step {
        const XMLTreeNode* node;
        bool closing;
    };
    std::vector<Step> pending{{root, false}};
    while (!pending.empty()) {
        Step step = pending.back();
        pending.pop_back();
        if (step.closing) {
            sink("</" + step.node->name.str() + ">\n");
            continue;
        }
        sink(openingTag(*step.node));
        if (step.node->children.empty()) {
            continue;
        }
        pending.push_back({step.node, true});
        const auto& children = step.node->children;
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            pending.push_back({child->get(), false});
        }
    }
}

}  // namespace

String ExpatXMLTree::getRootName() const {
    return root_ ? root_->name : String();
}

XMLTreeNode* ExpatXMLTree::find(const String& path, int index) const {
    if (root_ == nullptr) {
        return nullptr;
    }
    if (isRootPath(path, *root_)) {
        return root_;
    }
    return search(*root_, absolutePath(path, *root_), index);
}

std::unique_ptr<XMLTree> ExpatXMLTree::getSubtree(const String& path, int index) {
    XMLTreeNode* node = find(path, index);
    if (node == nullptr) {
        return nullptr;
    }
    // The constructor of a view is private: only a tree hands out views.
    return std::unique_ptr<XMLTree>(new ExpatXMLTree(node));
}

XMLTreeNode& ExpatXMLTree::makeRoot(const String& name) {
    ownedRoot_ = std::make_unique<XMLTreeNode>();
    root_ = ownedRoot_.get();
    root_->name = name;
    root_->depth = depth_++;
    return *root_;
}

XMLTreeNode& ExpatXMLTree::append(XMLTreeNode& parent, const String& name) {
    return parent.appendChild(name, depth_++);
}

bool ExpatXMLTree::addNode(const String& parentPath, const String& name, int index) {
    if (name.isEmpty()) {
        return false;  // an element without a name could not be written
    }
    if (XMLTreeNode* parent = find(parentPath, index)) {
        append(*parent, name);
        return true;
    }
    if (root_ == nullptr && !shared_ && (parentPath.isEmpty() || parentPath == "/") &&
        name.indexOf('/') < 0) {
        makeRoot(name);
        return true;
    }
    return false;
}

bool ExpatXMLTree::createNode(const String& path, int index) {
    if (path.isEmpty()) {
        return false;
    }
    if (root_ == nullptr) {
        if (shared_ || path.indexOf('/') >= 0) {
            return false;
        }
        makeRoot(path);
        return true;
    }
    String trimmed = path.endsWith("/") ? path.substring(0, path.length() - 1) : path;
    int slash = trimmed.lastIndexOf('/');
    XMLTreeNode* parent = slash <= 0 ? root_ : find(trimmed.substring(0, slash), index);
    String name = trimmed.substring(slash + 1);
    if (parent == nullptr || name.isEmpty()) {
        return false;
    }
    append(*parent, name);
    return true;
}

bool ExpatXMLTree::removeNode(const String& parentPath, const String& name, int index) {
    XMLTreeNode* parent = find(parentPath, -1);
    if (parent == nullptr) {
        return false;
    }
    int count = static_cast<int>(parent->children.size());
    if (index == -1) {
        for (int i = 0; i < count; ++i) {
            if (parent->children[static_cast<size_t>(i)]->name.equalsIgnoreCase(name.view())) {
                parent->removeChild(i);
                return true;
            }
        }
        return false;
    }
    if (index < 0 || index >= count) {
        return false;
    }
    parent->removeChild(index);
    return true;
}

bool ExpatXMLTree::removeNodeByAttribute(const String& parentPath, int /*index*/,
                                         const String& attributeName,
                                         const String& attributeValue) {
    XMLTreeNode* parent = find(parentPath, -1);
    if (parent == nullptr) {
        return false;
    }
    for (size_t i = 0; i < parent->children.size(); ++i) {
        const XMLTreeNode::Attribute* attribute =
            parent->children[i]->findAttribute(attributeName.view());
        if (attribute != nullptr && attribute->value.equalsIgnoreCase(attributeValue.view())) {
            parent->removeChild(static_cast<int>(i));
            return true;
        }
    }
    return false;
}

// The element that holds the attribute `name`, which may carry a sub-path
// below the element found by path; name is cut down to the attribute's own
// name.
XMLTreeNode* ExpatXMLTree::findAttributeOwner(const String& path, String& name, int index) const {
    XMLTreeNode* element = find(path, index);
    if (element == nullptr) {
        return nullptr;
    }
    if (name.startsWith("/")) {
        name = name.substring(1);
    }
    int slash = name.lastIndexOf('/');
    if (slash < 0) {
        return element;
    }
    if (slash == 0 || slash == name.length() - 1) {
        return nullptr;
    }
    XMLTreeNode* owner = search(*element, element->path() + "/" + name.substring(0, slash), -1);
    name = name.substring(slash + 1);
    return owner;
}

bool ExpatXMLTree::getAttribute(const String& path, const String& name, String& value,
                                int index) const {
    value.clear();
    String attributeName = name;
    XMLTreeNode* owner = findAttributeOwner(path, attributeName, index);
    if (owner == nullptr) {
        return false;
    }
    const XMLTreeNode::Attribute* attribute = owner->findAttribute(attributeName.view());
    if (attribute == nullptr) {
        return false;
    }
    value = attribute->value;
    return true;
}

bool ExpatXMLTree::setAttribute(const String& path, const String& name, const String& value,
                                int index) {
    String attributeName = name;
    XMLTreeNode* owner = findAttributeOwner(path, attributeName, index);
    if (owner == nullptr) {
        return false;
    }
    if (!attributeName.isEmpty()) {
        owner->setAttribute(attributeName, value);
    }
    return true;
}

namespace {

// Splits "element/path/attribute" at its last "/"; false when there is no
// element part.
bool splitAttributePath(const String& attributePath, String& elementPath, String& name) {
    String path = attributePath.endsWith("/")
                      ? attributePath.substring(0, attributePath.length() - 1)
                      : attributePath;
    int slash = path.lastIndexOf('/');
    if (slash < 1) {
        return false;
    }
    elementPath = path.substring(0, slash);
    name = path.substring(slash + 1);
    return true;
}

}  // namespace

bool ExpatXMLTree::getAttributeByPath(const String& attributePath, String& value, int index) const {
    value.clear();
    String elementPath;
    String name;
    return splitAttributePath(attributePath, elementPath, name) &&
           getAttribute(elementPath, name, value, index);
}

bool ExpatXMLTree::setAttributeByPath(const String& attributePath, const String& value, int index) {
    String elementPath;
    String name;
    return splitAttributePath(attributePath, elementPath, name) &&
           setAttribute(elementPath, name, value, index);
}

std::unique_ptr<XMLNode> ExpatXMLTree::getNode(const String& path, int index) const {
    XMLTreeNode* node = find(path, index);
    if (node == nullptr) {
        return nullptr;
    }
    return std::make_unique<ExpatXMLNode>(path, index, node);
}

bool ExpatXMLTree::clear() {
    if (!shared_) {
        ownedRoot_.reset();
        root_ = nullptr;
        current_ = nullptr;
        depth_ = 0;
    }
    return true;
}

void ExpatXMLTree::write(OutputStream& out) const {
    render(root_, [&out](std::string_view piece) {
        out.write(piece.data(), static_cast<int>(piece.size()));
    });
}

void ExpatXMLTree::toString(String& text) const {
    std::string document;
    render(root_, [&document](std::string_view piece) { document += piece; });
    text = String(std::move(document));
}

void ExpatXMLTree::beginParse() {
    current_ = nullptr;
}

void ExpatXMLTree::startElement(const char* name, const char** attributes) {
    // A second document merges into the existing root, its attributes
    // replacing those of the same name.
    const bool merging = root_ != nullptr && current_ == nullptr;
    if (root_ == nullptr) {
        current_ = &makeRoot(name);
    } else if (merging) {
        current_ = root_;
        ++depth_;
    } else {
        current_ = &append(*current_, name);
    }
    for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
        if (merging) {
            current_->setAttribute(attributes[i], attributes[i + 1]);
        } else {
            // Expat refuses a name given twice, so a new element's
            // attributes are appended without a search.
            current_->attributes.push_back({attributes[i], attributes[i + 1]});
        }
    }
}

void ExpatXMLTree::endElement() {
    --depth_;
    if (current_ != nullptr) {
        current_ = current_->parent;
    }
}

size_t ExpatXMLTree::storedBytes() const {
    size_t bytes = 0;
    std::vector<const XMLTreeNode*> pending;
    if (root_ != nullptr) {
        pending.push_back(root_);
    }
    while (!pending.empty()) {
        const XMLTreeNode* node = pending.back();
        pending.pop_back();
        bytes += node->ownBytes();
        for (const auto& child : node->children) {
            pending.push_back(child.get());
        }
    }
    return bytes;
}
