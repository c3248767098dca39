#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "io/StringOutputStream.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

const std::string kDefaultDocument =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<LmNetClientSettings>\n"
    "<ServerList type=\"https\" isUsingProxy=\"0\" proxy=\"\" proxyuser=\"\" timeout=\"180\">\n"
    "<Server host=\"\"/>\n"
    "</ServerList>\n"
    "</LmNetClientSettings>\n";

std::string text(const XMLTree& tree) {
    String out("left over");
    tree.toString(out);
    return out.str();
}

// A parser holding doc; fails the test when doc does not parse.
std::unique_ptr<XMLParser> parsed(const std::string& doc) {
    auto parser = newXMLParser();
    EXPECT_TRUE(parser->parse(String(doc))) << doc.substr(0, 200);
    return parser;
}

// Every element carries an id so that a test can tell which one was found.
const std::string kSample =
    "<Root id=\"root\"><A id=\"a1\"><Server id=\"s0\"/><Other id=\"o1\"/>"
    "<Server id=\"s2\"/></A><A id=\"a2\"><B id=\"b\"><C id=\"c\"/></B></A></Root>";

}  // namespace

TEST(XmlTreeTest, BuildsTheDefaultSettingsDocumentAsSixLines) {
    auto tree = newXMLTree();
    ASSERT_TRUE(tree->createNode("LmNetClientSettings"));
    ASSERT_TRUE(tree->createNode("/ServerList"));
    const char* const attributes[][2] = {{"type", "https"},
                                         {"isUsingProxy", "0"},
                                         {"proxy", ""},
                                         {"proxyuser", ""},
                                         {"timeout", "180"}};
    for (const auto& [name, value] : attributes) {
        ASSERT_TRUE(tree->setAttribute("/ServerList", name, value));
    }
    ASSERT_TRUE(tree->addNode("/ServerList", "Server"));
    ASSERT_TRUE(tree->setAttribute("/ServerList/Server", "host", ""));

    EXPECT_EQ(text(*tree), kDefaultDocument);
    StringOutputStream out;
    tree->write(out);
    EXPECT_EQ(out.getString().str(), kDefaultDocument);
}

TEST(XmlTreeTest, ParsingAndWritingGivesTheSameBytes) {
    auto parser = parsed(kDefaultDocument);
    EXPECT_EQ(text(parser->getTree()), kDefaultDocument);
    String appended("prefix:");
    parser->toString(appended);
    EXPECT_EQ(appended.str(), "prefix:" + kDefaultDocument);
    StringOutputStream out;
    parser->write(out);
    EXPECT_EQ(out.getString().str(), kDefaultDocument);
}

TEST(XmlTreeTest, EmptyTreeWritesOnlyTheDeclaration) {
    auto tree = newXMLTree();
    EXPECT_EQ(text(*tree), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    EXPECT_EQ(tree->getRootName(), "");
    EXPECT_EQ(tree->getNode("/"), nullptr);
}

struct PathCase {
    const char* name;
    const char* path;
    int index;
    const char* expectedId;  // "" when nothing may be found
};

void PrintTo(const PathCase& c, std::ostream* os) {
    *os << c.name << ": \"" << c.path << "\" index " << c.index;
}

class XmlPathTest : public testing::TestWithParam<PathCase> {};

TEST_P(XmlPathTest, FindsTheElement) {
    const PathCase& c = GetParam();
    auto parser = parsed(kSample);
    std::unique_ptr<XMLNode> node = parser->getTree().getNode(c.path, c.index);
    if (std::string(c.expectedId).empty()) {
        EXPECT_EQ(node, nullptr);
        return;
    }
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->getPath(), c.path);
    EXPECT_EQ(node->getIndex(), c.index);
    // A view looked up by the empty path is not valid, though the tree
    // finds the root by it.
    EXPECT_EQ(node->isValid(), !std::string(c.path).empty());
    String id;
    EXPECT_TRUE(parser->getTree().getAttribute(c.path, "id", id, c.index));
    EXPECT_EQ(id, c.expectedId);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, XmlPathTest,
    testing::Values(
        PathCase{"Slash", "/", -1, "root"}, PathCase{"Empty", "", 5, "root"},
        PathCase{"RootName", "Root", 3, "root"}, PathCase{"SlashRootName", "/Root", -1, "root"},
        PathCase{"LeadingSlash", "/A", -1, "a1"}, PathCase{"NoLeadingSlash", "A", -1, "a1"},
        PathCase{"LastStepAnyCase", "/a", -1, "a1"}, PathCase{"SecondSibling", "/A", 1, "a2"},
        PathCase{"FirstMatchOfChild", "/A/Server", -1, "s0"},
        PathCase{"IndexCountsAllChildren", "/A/Server", 2, "s2"},
        PathCase{"IndexOfOtherName", "/A/Server", 1, ""},
        PathCase{"InnerStepCaseMatters", "/a/Server", -1, ""},
        PathCase{"LastStepCaseBelowChild", "/A/server", -1, "s0"},
        PathCase{"TrailingSlashIgnoresIndex", "/A/", 7, "a1"},
        PathCase{"DeepPath", "/A/B/C", -1, "c"}, PathCase{"RootNameIsNotAStep", "/Root/A", -1, ""},
        PathCase{"Missing", "/Nothing", -1, ""}),
    [](const testing::TestParamInfo<PathCase>& info) { return std::string(info.param.name); });

TEST(XmlTreeTest, SetAttributeWithIndexAddressesThatChildWhateverItsName) {
    auto parser = parsed("<R><L><Other/><Server/></L></R>");
    XMLTree& tree = parser->getTree();
    EXPECT_TRUE(tree.setAttribute("/L/Server", "host", "b", 1));
    EXPECT_FALSE(tree.setAttribute("/L/Server", "host", "c", 0));
    EXPECT_EQ(text(tree), std::string(kXMLDeclaration) +
                              "<R>\n<L>\n<Other/>\n<Server host=\"b\"/>\n</L>\n</R>\n");
}

TEST(XmlTreeTest, SetAttributeReplacesInPlaceKeepingTheFirstSpelling) {
    auto parser = parsed("<R a=\"1\" Type=\"x\" b=\"2\"/>");
    XMLTree& tree = parser->getTree();
    EXPECT_TRUE(tree.setAttribute("/", "TYPE", "y"));
    EXPECT_TRUE(tree.setAttribute("/", "", "ignored"));
    EXPECT_EQ(text(tree), std::string(kXMLDeclaration) + "<R a=\"1\" Type=\"y\" b=\"2\"/>\n");
    String value("stale");
    EXPECT_FALSE(tree.getAttribute("/", "missing", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(tree.getAttribute("/", "type", value));
    EXPECT_EQ(value, "y");
}

TEST(XmlTreeTest, AttributeNamesMayCarryASubPath) {
    auto parser = parsed(kSample);
    XMLTree& tree = parser->getTree();
    String value;
    EXPECT_TRUE(tree.getAttribute("/A", "Server/id", value));
    EXPECT_EQ(value, "s0");
    EXPECT_TRUE(tree.getAttribute("/A", "/Server/id", value));
    EXPECT_EQ(value, "s0");
    EXPECT_FALSE(tree.getAttribute("/A", "Server/", value));
    EXPECT_TRUE(tree.setAttribute("/A", "B/C/y", "deep", 1));
    EXPECT_TRUE(tree.getAttributeByPath("/A/B/C/y", value));
    EXPECT_EQ(value, "deep");
    EXPECT_TRUE(tree.getAttributeByPath("A/id/", value, 1));
    EXPECT_EQ(value, "a2");
    value = "stale";
    EXPECT_FALSE(tree.getAttributeByPath("/id", value));
    EXPECT_EQ(value, "");
    EXPECT_TRUE(tree.setAttributeByPath("Root/z", "on root"));
    EXPECT_TRUE(tree.getAttribute("/", "z", value));
    EXPECT_EQ(value, "on root");
}

TEST(XmlTreeTest, RemoveNodeByPositionOrByName) {
    auto parser = parsed("<R><L><Other/><Server n=\"1\"/><Server n=\"2\"/></L></R>");
    XMLTree& tree = parser->getTree();
    EXPECT_TRUE(tree.removeNode("/L", "server", -1));  // first of that name
    EXPECT_EQ(text(tree),
              std::string(kXMLDeclaration) + "<R>\n<L>\n<Other/>\n<Server n=\"2\"/>\n</L>\n</R>\n");
    EXPECT_TRUE(tree.removeNode("/L", "Server", 0));  // position 0 whatever its name
    EXPECT_FALSE(tree.removeNode("/L", "Server", 1));
    // Sibling indexes moved up: the remaining Server is now at position 0.
    EXPECT_TRUE(tree.setAttribute("/L/Server", "n", "moved", 0));
    EXPECT_EQ(text(tree),
              std::string(kXMLDeclaration) + "<R>\n<L>\n<Server n=\"moved\"/>\n</L>\n</R>\n");
    EXPECT_TRUE(tree.removeNode("/L", "", 0));
    EXPECT_FALSE(tree.removeNode("/L", "", 0));
}

TEST(XmlTreeTest, RemoveNodeByAttributeComparesWithoutCase) {
    auto parser = parsed("<R><P name=\"a\"/><P NAME=\"B\"/><P name=\"c\"/></R>");
    XMLTree& tree = parser->getTree();
    EXPECT_FALSE(tree.removeNodeByAttribute("/", 0, "name", "x"));
    EXPECT_TRUE(tree.removeNodeByAttribute("/", 99, "Name", "b"));
    EXPECT_EQ(text(tree),
              std::string(kXMLDeclaration) + "<R>\n<P name=\"a\"/>\n<P name=\"c\"/>\n</R>\n");
}

TEST(XmlTreeTest, CreateNodeRules) {
    auto tree = newXMLTree();
    EXPECT_FALSE(tree->createNode(""));
    EXPECT_FALSE(tree->createNode("/A"));
    EXPECT_FALSE(tree->createNode("A/B"));
    EXPECT_TRUE(tree->createNode("Root"));
    EXPECT_TRUE(tree->createNode("A/"));  // trailing "/" dropped
    EXPECT_TRUE(tree->createNode("/A/B"));
    EXPECT_TRUE(tree->createNode("A"));
    EXPECT_TRUE(tree->createNode("/A/C", 1));  // below the second A
    EXPECT_FALSE(tree->createNode("/Missing/X"));
    EXPECT_FALSE(tree->createNode("/"));  // no name to create
    EXPECT_EQ(text(*tree),
              std::string(kXMLDeclaration) + "<Root>\n<A>\n<B/>\n</A>\n<A>\n<C/>\n</A>\n</Root>\n");
}

TEST(XmlTreeTest, AddNodeCreatesTheRootOnlyOnAnEmptyTree) {
    auto tree = newXMLTree();
    EXPECT_FALSE(tree->addNode("/", "A/B"));
    EXPECT_FALSE(tree->addNode("/X", "A"));
    EXPECT_TRUE(tree->addNode("/", "Root"));
    EXPECT_EQ(tree->getRootName(), "Root");
    EXPECT_TRUE(tree->addNode("/", "Child"));
    EXPECT_FALSE(tree->addNode("/Nothing", "Child"));
    EXPECT_TRUE(tree->clear());
    EXPECT_EQ(tree->getRootName(), "");
    EXPECT_TRUE(tree->addNode("", "Again"));
    EXPECT_EQ(text(*tree), std::string(kXMLDeclaration) + "<Again/>\n");
}

TEST(XmlTreeTest, SubtreeIsAViewRelativeToItsRoot) {
    auto parser = parsed(kSample);
    std::unique_ptr<XMLTree> view = parser->getTree().getSubtree("/A", 1);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->getRootName(), "A");
    EXPECT_NE(view->getNode("/B/C"), nullptr);
    EXPECT_TRUE(view->setAttribute("B", "seen", "yes"));
    view->clear();  // a view frees nothing
    view.reset();
    String value;
    EXPECT_TRUE(parser->getTree().getAttribute("/A/B", "seen", value));
    EXPECT_EQ(value, "yes");
}

TEST(XmlTreeTest, NodeViewListsAttributesAndChildren) {
    auto parser = parsed(kSample);
    std::unique_ptr<XMLNode> a = parser->getTree().getNode("A");
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->getName(), "A");
    EXPECT_EQ(a->getAttributeCount(), 1);
    EXPECT_EQ(a->getChildCount(), 3);
    String name;
    String value("stale");
    EXPECT_TRUE(a->getAttribute(0, name, value));
    EXPECT_EQ(name, "id");
    EXPECT_EQ(value, "a1");
    EXPECT_FALSE(a->getAttribute(1, name, value));
    EXPECT_EQ(value, "");
    std::unique_ptr<XMLNode> child = a->getChild(2);
    ASSERT_NE(child, nullptr);
    EXPECT_EQ(child->getPath(), "/Root/A/Server");
    EXPECT_EQ(child->getIndex(), -1);
    EXPECT_TRUE(child->getAttribute("ID", value));
    EXPECT_EQ(value, "s2");
    EXPECT_EQ(a->getChild(3), nullptr);
    EXPECT_EQ(a->getChild(-1), nullptr);
    EXPECT_EQ(a->dump(), "Attributes: \nid=\"a1\" \nChilds : \nServer\nOther\nServer\n");
}

struct EscapeCase {
    const char* name;
    const char* value;
};

void PrintTo(const EscapeCase& c, std::ostream* os) {
    *os << c.name;
}

class XmlEscapeTest : public testing::TestWithParam<EscapeCase> {};

TEST_P(XmlEscapeTest, ValueSurvivesWriteAndParse) {
    auto tree = newXMLTree();
    ASSERT_TRUE(tree->createNode("R"));
    ASSERT_TRUE(tree->setAttribute("/", "v", GetParam().value));
    auto parser = parsed(text(*tree));
    String value;
    ASSERT_TRUE(parser->getTree().getAttribute("/", "v", value));
    EXPECT_EQ(value, GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(
    Characters, XmlEscapeTest,
    testing::Values(EscapeCase{"Ampersand", "a&b"}, EscapeCase{"Less", "a<b"},
                    EscapeCase{"Greater", "a>b"}, EscapeCase{"Quote", "a\"b"},
                    EscapeCase{"EntityLookalike", "&amp;&lt;"}, EscapeCase{"Apostrophe", "it's"},
                    EscapeCase{"Tab", "a\tb"}, EscapeCase{"LineBreaks", "a\nb\r\nc\r"},
                    EscapeCase{"Utf8", "gr\xc3\xbc\xc3\x9f"}),
    [](const testing::TestParamInfo<EscapeCase>& info) { return std::string(info.param.name); });

TEST(XmlTreeTest, PlainValuesAreWrittenByteForByteAndSpecialOnesEscaped) {
    auto tree = newXMLTree();
    ASSERT_TRUE(tree->createNode("R"));
    tree->setAttribute("/", "plain", "a b'c%s\\d");
    tree->setAttribute("/", "special", "<\"&\">\t\r\n");
    EXPECT_EQ(
        text(*tree),
        std::string(kXMLDeclaration) +
            "<R plain=\"a b'c%s\\d\" special=\"&lt;&quot;&amp;&quot;&gt;&#9;&#13;&#10;\"/>\n");
}

namespace {
std::string nested(int depth) {
    std::string doc;
    for (int i = 0; i < depth; ++i) {
        doc += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        doc += "</e>";
    }
    return doc;
}
}  // namespace

TEST(XmlTreeTest, NestingIsLimitedTo256Levels) {
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String(nested(256))));
    String written;
    parser->toString(written);
    // Every element but the innermost is "<e>\n" ... "</e>\n"; that one "<e/>\n".
    EXPECT_EQ(written.length(),
              static_cast<int>(std::string(kXMLDeclaration).size()) + 255 * 9 + 5);
    EXPECT_FALSE(newXMLParser()->parse(String(nested(257))));
    EXPECT_FALSE(newXMLParser()->parse(String(nested(100000))));
}
