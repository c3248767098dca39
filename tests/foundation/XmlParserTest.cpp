#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "TempRoot.h"
#include "io/FileInputStream.h"
#include "xml/XMLFactory.h"
#include "xml/XMLNode.h"

namespace {

// A complete document of exactly `size` bytes: padding in an attribute.
std::string documentOfSize(size_t size) {
    std::string head = "<R pad=\"";
    std::string tail = "\"/>";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

struct StreamCase {
    const char* name;
    std::string content;
    bool parses;
};

void PrintTo(const StreamCase& c, std::ostream* os) {
    *os << c.name << " (" << c.content.size() << " bytes)";
}

class XmlStreamParseTest : public testing::TestWithParam<StreamCase> {};

TEST_P(XmlStreamParseTest, ParsesTheWholeStream) {
    const StreamCase& c = GetParam();
    TempRoot root;
    root.write("doc.xml", c.content);
    FileInputStream in(String(root.file("doc.xml")));
    auto parser = newXMLParser();
    EXPECT_EQ(parser->parse(in), c.parses);
    EXPECT_EQ(parser->isParsed(), c.parses);
}

INSTANTIATE_TEST_SUITE_P(Chunks, XmlStreamParseTest,
                         testing::Values(StreamCase{"Empty", "", false},
                                         StreamCase{"EndsInsideElement", "<R><A>", false},
                                         StreamCase{"ExactlyOneChunk", documentOfSize(1024), true},
                                         StreamCase{"ExactlyTwoChunks", documentOfSize(2048), true},
                                         StreamCase{"ChunkAndABit", documentOfSize(1500), true},
                                         StreamCase{"TruncatedAtChunkBoundary",
                                                    documentOfSize(1025).substr(0, 1024), false},
                                         StreamCase{"NotWellFormed", "<R><A></R>", false},
                                         StreamCase{"Small", "<R a=\"1\"/>", true}),
                         [](const testing::TestParamInfo<StreamCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace

namespace {
// The parser's document as written, without the declaration line.
std::string written(const XMLParser& parser) {
    String text;
    parser.getTree().toString(text);
    return text.str().substr(std::string(kXMLDeclaration).size());
}
}  // namespace

TEST(XmlParserTest, TextContentIsDroppedElementsAndAttributesKept) {
    auto parser = newXMLParser();
    ASSERT_TRUE(
        parser->parse(String("<?xml version=\"1.0\"?>\n<!-- note --><R a=\"1\">text<A "
                             "b=\"2\">more</A>tail<?pi x?></R>")));
    EXPECT_EQ(written(*parser), "<R a=\"1\">\n<A b=\"2\"/>\n</R>\n");
}

TEST(XmlParserTest, EmptyTextFailsWithoutTouchingTheFlag) {
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String("<R/>")));
    EXPECT_FALSE(parser->parse(String()));
    EXPECT_TRUE(parser->isParsed());
    EXPECT_FALSE(parser->parse(String("<R>")));
    EXPECT_FALSE(parser->isParsed());
}

TEST(XmlParserTest, RepeatedAttributeNamesInAnyCaseKeepTheLastValue) {
    // Expat rejects exact duplicates; names differing in case are distinct
    // XML but one attribute here.
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String("<R Host=\"a\" host=\"b\"/>")));
    EXPECT_EQ(written(*parser), "<R Host=\"b\"/>\n");
}

TEST(XmlParserTest, SecondParseMergesIntoTheExistingRoot) {
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String("<R a=\"1\"><A/></R>")));
    ASSERT_TRUE(parser->parse(String("<Other a=\"2\" b=\"3\"><B/></Other>")));
    EXPECT_EQ(written(*parser), "<R a=\"2\" b=\"3\">\n<A/>\n<B/>\n</R>\n");
}

TEST(XmlParserTest, ParseAfterAFailedParseStartsAtTheRoot) {
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String("<R/>")));
    EXPECT_FALSE(parser->parse(String("<X><Open>")));
    ASSERT_TRUE(parser->parse(String("<Y><C/></Y>")));
    std::unique_ptr<XMLNode> root = parser->getTree().getNode("/");
    ASSERT_NE(root, nullptr);
    std::unique_ptr<XMLNode> last = root->getChild(root->getChildCount() - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->getName(), "C");
    EXPECT_EQ(last->getPath(), "/R/C");
}

TEST(XmlParserTest, EncodingDeclarationDecidesHowBytesAreRead) {
    auto parser = newXMLParser();
    ASSERT_TRUE(
        parser->parse(String("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R v=\"\xfc\"/>")));
    String value;
    ASSERT_TRUE(parser->getTree().getAttribute("/", "v", value));
    EXPECT_EQ(value, "\xc3\xbc");
}
