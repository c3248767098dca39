#include "xml/ExpatXMLParser.h"

#include <expat.h>

#include <exception>
#include <memory>

#include "Exception.h"
#include "io/InputStream.h"

namespace {

constexpr int kChunkSize = 1024;
// Every element keeps its absolute path, so memory grows with the square of
// the nesting depth: a hostile document must not nest without limit. Real
// documents nest a handful of levels.
constexpr int kMaxDepth = 256;

struct ExpatParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ExpatParserPtr = std::unique_ptr<XML_ParserStruct, ExpatParserDeleter>;

// One expat run filling a tree. A C++ exception must not unwind through
// expat's C frames, so a callback that fails stops the parser and the
// exception is raised again once expat has returned.
class ExpatRun {
public:
    ExpatRun(ExpatXMLTree& tree, String& errorText)
        : tree_(tree), errorText_(errorText), parser_(XML_ParserCreate(nullptr)) {
        if (!parser_) {
            throw OutOfMemoryException("xml/ExpatXMLParser", __LINE__);
        }
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &ExpatRun::onStart, &ExpatRun::onEnd);
        tree_.beginParse();
        errorText_.clear();
    }

    // False on an XML error, whose text is kept for the caller.
    bool feed(const char* data, int length, bool final) {
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
        if (++run->depth_ > kMaxDepth) {
            run->tooDeep_ = true;
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
        String message(tooDeep_ ? "elements nested too deeply"
                                : XML_ErrorString(XML_GetErrorCode(parser_.get())));
        message.append(" at line ")
            .append(static_cast<long>(XML_GetCurrentLineNumber(parser_.get())));
        errorText_ = message;
    }

    ExpatXMLTree& tree_;
    String& errorText_;
    ExpatParserPtr parser_;
    std::exception_ptr failure_;
    int depth_ = 0;
    bool tooDeep_ = false;
};

bool parseStream(ExpatXMLTree& tree, String& errorText, InputStream& in) {
    ExpatRun run(tree, errorText);
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
    parsed_ = parseStream(tree_, errorText_, in);
    return parsed_;
}

bool ExpatXMLParser::parse(const String& text) {
    if (text.isEmpty()) {
        return false;
    }
    ExpatRun run(tree_, errorText_);
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
