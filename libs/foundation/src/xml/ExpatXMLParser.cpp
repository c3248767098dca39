#include "xml/ExpatXMLParser.h"

#include <expat.h>

#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>

#include "Exception.h"
#include "io/InputStream.h"

namespace {

constexpr int kChunkSize = 1024;

struct ExpatParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ExpatParserPtr = std::unique_ptr<XML_ParserStruct, ExpatParserDeleter>;

// The system's documents name elements and attributes in ASCII. Expat takes
// some other letters as name characters in a Latin-1 document but not once
// the tree writes them out in UTF-8, so such a document could not be read
// back: it is refused instead.
bool isAscii(const char* name) {
    for (; *name != '\0'; ++name) {
        if (static_cast<unsigned char>(*name) >= 0x80) {
            return false;
        }
    }
    return true;
}

String overLimit(const char* what, int64_t limit, const char* unit) {
    String text("over the limit: ");
    return text.append(what).append(' ').append(static_cast<long>(limit)).append(unit);
}

// One expat run filling a tree. A C++ exception must not unwind through
// expat's C frames, so a callback that fails stops the parser and the
// exception is raised again once expat has returned. Every cap of the
// limits is checked as the document arrives, before the tree grows.
class ExpatRun {
public:
    ExpatRun(ExpatXMLTree& tree, const XMLLimits& limits, String& errorText)
        : tree_(tree), limits_(limits), errorText_(errorText), parser_(XML_ParserCreate(nullptr)) {
        if (!parser_) {
            throw OutOfMemoryException("xml/ExpatXMLParser", __LINE__);
        }
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &ExpatRun::onStart, &ExpatRun::onEnd);
        tree_.beginParse();
        errorText_.clear();
    }

    // False on an XML error or a cap reached, whose text is kept.
    bool feed(const char* data, int length, bool final) {
        documentBytes_ += length;
        if (documentBytes_ > limits_.maxDocumentBytes) {
            errorText_ = overLimit("document longer than", limits_.maxDocumentBytes, " bytes");
            return false;
        }
        XML_Status status = XML_Parse(parser_.get(), data, length, final ? 1 : 0);
        if (failure_) {
            std::rethrow_exception(failure_);
        }
        if (status == XML_STATUS_ERROR) {
            keepError();
            return false;
        }
        return true;
    }

private:
    static void XMLCALL onStart(void* self, const XML_Char* name, const XML_Char** attributes) {
        auto* run = static_cast<ExpatRun*>(self);
        ++run->depth_;
        if (!run->withinLimits(name, attributes)) {
            XML_StopParser(run->parser_.get(), XML_FALSE);
            return;
        }
        run->guard([&] { run->tree_.startElement(name, attributes); });
    }

    static void XMLCALL onEnd(void* self, const XML_Char* /*name*/) {
        auto* run = static_cast<ExpatRun*>(self);
        --run->depth_;
        run->guard([&] { run->tree_.endElement(); });
    }

    // Empty when the element is within every cap, else the cap or the rule
    // it breaks.
    String brokenLimit(const char* name, const char** attributes) const {
        if (depth_ > limits_.maxDepth) {
            return overLimit("elements nested deeper than", limits_.maxDepth, " levels");
        }
        if (elements_ > limits_.maxElements) {
            return overLimit("more elements than", limits_.maxElements, "");
        }
        if (std::strlen(name) > static_cast<size_t>(limits_.maxNameBytes)) {
            return overLimit("element name longer than", limits_.maxNameBytes, " bytes");
        }
        if (!isAscii(name)) {
            return "element name not ASCII";
        }
        int64_t valueBytes = 0;
        for (int i = 0; attributes[i] != nullptr && attributes[i + 1] != nullptr; i += 2) {
            if (i / 2 >= limits_.maxAttributes) {
                return overLimit("more than", limits_.maxAttributes, " attributes in an element");
            }
            if (std::strlen(attributes[i]) > static_cast<size_t>(limits_.maxNameBytes)) {
                return overLimit("attribute name longer than", limits_.maxNameBytes, " bytes");
            }
            if (!isAscii(attributes[i])) {
                return "attribute name not ASCII";
            }
            valueBytes += static_cast<int64_t>(std::strlen(attributes[i + 1]));
        }
        if (valueBytes > limits_.maxAttributeBytes) {
            return overLimit("attribute values of one element longer than",
                             limits_.maxAttributeBytes, " bytes");
        }
        return String();
    }

    bool withinLimits(const char* name, const char** attributes) {
        ++elements_;
        limitText_ = brokenLimit(name, attributes);
        return limitText_.isEmpty();
    }

    template <class Step>
    void guard(Step step) {
        try {
            step();
        } catch (...) {
            failure_ = std::current_exception();
            XML_StopParser(parser_.get(), XML_FALSE);
        }
    }

    void keepError() {
        String message(limitText_.isEmpty()
                           ? String(XML_ErrorString(XML_GetErrorCode(parser_.get())))
                           : limitText_);
        message.append(" at line ")
            .append(static_cast<long>(XML_GetCurrentLineNumber(parser_.get())));
        errorText_ = message;
    }

    ExpatXMLTree& tree_;
    const XMLLimits& limits_;
    String& errorText_;
    ExpatParserPtr parser_;
    std::exception_ptr failure_;
    int depth_ = 0;
    int elements_ = 0;
    int64_t documentBytes_ = 0;
    String limitText_;
};

bool parseStream(ExpatXMLTree& tree, const XMLLimits& limits, String& errorText, InputStream& in) {
    ExpatRun run(tree, limits, errorText);
    char buffer[kChunkSize];
    for (;;) {
        int count = in.read(buffer, kChunkSize);
        if (count <= 0) {
            // A document that stops early is an error whatever its length.
            return run.feed(nullptr, 0, true);
        }
        bool final = count < kChunkSize;
        if (!run.feed(buffer, count, final)) {
            return false;
        }
        if (final) {
            return true;
        }
    }
}

}  // namespace

bool ExpatXMLParser::parse(InputStream& in) {
    parsed_ = false;  // stays false when reading fails
    parsed_ = parseStream(tree_, limits_, errorText_, in);
    return parsed_;
}

bool ExpatXMLParser::parse(const String& text) {
    if (text.isEmpty()) {
        return false;
    }
    ExpatRun run(tree_, limits_, errorText_);
    parsed_ = run.feed(text.data(), text.length(), true);
    return parsed_;
}

void ExpatXMLParser::write(OutputStream& out) const {
    tree_.write(out);
}

void ExpatXMLParser::toString(String& text) const {
    String document;
    tree_.toString(document);
    text.append(document);
}
