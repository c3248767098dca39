#include "LmUpdateParser.h"

#include "xml/XMLFactory.h"

LmUpdateParser::LmUpdateParser() : parser_(newXMLParser()) {}

bool LmUpdateParser::parse(InputStream& in) {
    parser_ = newXMLParser();
    return parser_->parse(in);
}
