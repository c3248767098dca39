#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>

#include "LazyText.h"
#include "TempRoot.h"
#include "io/FileInputStream.h"
#include "xml/ExpatXMLParser.h"
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

TEST(XmlParserTest, RepeatedAttributeNamesInAnyCaseReadTheLastValue) {
    // Expat rejects exact duplicates; names differing in case are distinct
    // XML, kept as written, and a lookup in any case reads the last.
    auto parser = newXMLParser();
    ASSERT_TRUE(parser->parse(String("<R Host=\"a\" host=\"b\"/>")));
    EXPECT_EQ(written(*parser), "<R Host=\"a\" host=\"b\"/>\n");
    String value;
    ASSERT_TRUE(parser->getTree().getAttribute("/", "HOST", value));
    EXPECT_EQ(value, "b");
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

namespace {

// One element called `name` holding `children` empty children.
std::string wideDocument(size_t nameLength, int children) {
    std::string name(nameLength, 'n');
    std::string doc = "<" + name + ">";
    for (int i = 0; i < children; ++i) {
        doc += "<a/>";
    }
    return doc + "</" + name + ">";
}

std::string nestedDocument(int depth) {
    std::string doc;
    for (int i = 0; i < depth; ++i) {
        doc += "<e>";
    }
    for (int i = 0; i < depth; ++i) {
        doc += "</e>";
    }
    return doc;
}

// An element whose attributes' values add up to `bytes`, in 4 KiB pieces
// (within the cap on attributes).
std::string attributeBytes(size_t bytes) {
    std::string doc = "<R";
    for (size_t i = 0; bytes > 0; ++i) {
        size_t piece = std::min<size_t>(bytes, 4096);
        doc += " a" + std::to_string(i) + "=\"" + std::string(piece, 'v') + "\"";
        bytes -= piece;
    }
    return doc + "/>";
}

std::string manyAttributes(int count) {
    std::string doc = "<R";
    for (int i = 0; i < count; ++i) {
        doc += " a" + std::to_string(i) + "=\"\"";
    }
    return doc + "/>";
}

// A document of exactly `size` bytes, padded with a comment.
std::string commentedDocument(size_t size) {
    std::string head = "<R><!--";
    std::string tail = "--></R>";
    return head + std::string(size - head.size() - tail.size(), 'c') + tail;
}

struct LimitCase {
    const char* name;
    XMLLimits limits;
    LazyText document;
    const char* error;  // the start of the error text; null: parses
};

void PrintTo(const LimitCase& c, std::ostream* os) {
    *os << c.name;
}

class XmlLimitTest : public testing::TestWithParam<LimitCase> {};

TEST_P(XmlLimitTest, ADocumentOverACapFailsNamingIt) {
    const LimitCase& c = GetParam();
    auto parser = newXMLParser();
    parser->setLimits(c.limits);
    EXPECT_EQ(parser->parse(String(c.document())), c.error == nullptr);
    if (c.error != nullptr) {
        EXPECT_EQ(parser->getErrorText().str().substr(0, std::string(c.error).size()), c.error)
            << parser->getErrorText();
    }
}

const XMLLimits kNetwork = XMLLimits::network();
const XMLLimits kLocal = XMLLimits::localState();

INSTANTIATE_TEST_SUITE_P(
    Caps, XmlLimitTest,
    testing::Values(
        LimitCase{"NetworkDepth32", kNetwork, LazyText(nestedDocument, 32), nullptr},
        LimitCase{"NetworkDepth33", kNetwork, LazyText(nestedDocument, 33),
                  "over the limit: elements nested deeper than 32 levels"},
        LimitCase{"Network100000Elements", kNetwork, LazyText(wideDocument, 1, 99999), nullptr},
        LimitCase{"Network100001Elements", kNetwork, LazyText(wideDocument, 1, 100000),
                  "over the limit: more elements than 100000"},
        LimitCase{"LocalTakesMoreElements", kLocal, LazyText(wideDocument, 1, 100000), nullptr},
        LimitCase{"Local1000001Elements", kLocal, LazyText(wideDocument, 1, 1000000),
                  "over the limit: more elements than 1000000"},
        LimitCase{"ElementName256", kNetwork, LazyText(wideDocument, 256, 1), nullptr},
        LimitCase{"ElementName257", kNetwork, LazyText(wideDocument, 257, 1),
                  "over the limit: element name longer than 256 bytes"},
        LimitCase{"AttributeName257", kNetwork, "<R " + std::string(257, 'a') + "=\"1\"/>",
                  "over the limit: attribute name longer than 256 bytes"},
        LimitCase{"AttributeValues64KiB", kNetwork, LazyText(attributeBytes, 65536), nullptr},
        LimitCase{"AttributeValuesOver64KiB", kNetwork, LazyText(attributeBytes, 65537),
                  "over the limit: attribute values of one element longer than 65536 bytes"},
        LimitCase{"NetworkAttributes64", kNetwork, LazyText(manyAttributes, 64), nullptr},
        LimitCase{"NetworkAttributes65", kNetwork, LazyText(manyAttributes, 65),
                  "over the limit: more than 64 attributes in an element at line 1"},
        LimitCase{"LocalAttributes65", kLocal, LazyText(manyAttributes, 65),
                  "over the limit: more than 64 attributes in an element"},
        // Found by fuzzing: expat reads 0xBA as a letter in Latin-1 but not
        // as U+00BA in the UTF-8 the tree writes, so the written document
        // did not parse again.
        LimitCase{"Latin1ElementNameTheWriterCannotKeep", kLocal,
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><Serve\xbar/>",
                  "element name not ASCII at line 1"},
        LimitCase{"Latin1AttributeName", kNetwork,
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R h\xbast=\"1\"/>",
                  "attribute name not ASCII at line 1"},
        LimitCase{"Utf8ElementName", kNetwork, "<caf\xc3\xa9/>", "element name not ASCII"},
        LimitCase{"Latin1AttributeValueIsKept", kNetwork,
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><R v=\"\xba\"/>", nullptr},
        LimitCase{"Document16MiB", kLocal, LazyText(commentedDocument, 16 * 1024 * 1024), nullptr},
        LimitCase{"DocumentOver16MiB", kLocal, LazyText(commentedDocument, 16 * 1024 * 1024 + 1),
                  "over the limit: document longer than 16777216 bytes"}),
    [](const testing::TestParamInfo<LimitCase>& info) { return std::string(info.param.name); });

}  // namespace

// One 64 KiB element name above 9,000 children once took 620 MB: each child
// kept its whole path. What the tree holds must grow with the document.
TEST(XmlParserTest, ALongNameAboveManyChildrenCostsMemoryLinearInTheDocument) {
    std::string document = wideDocument(64 * 1024, 9000);
    XMLLimits roomy;
    roomy.maxNameBytes = 64 * 1024;
    ExpatXMLParser parser;
    parser.setLimits(roomy);
    ASSERT_TRUE(parser.parse(String(document))) << parser.getErrorText();
    EXPECT_EQ(parser.getTree().getNode("/a", 8999)->getPath(), "/a");
    size_t bound = 2 * document.size() + 256 * 9001;
    EXPECT_LE(parser.getTree().storedBytes(), bound);
}
