// The HTTP status line and header block of an answer: the first line, then
// the header lines.
#include "FuzzInput.h"
#include "net/HttpHeader.h"
#include "net/HttpResponse.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    String text = fuzzText(data, size);
    int lineEnd = text.indexOf("\r\n");
    String statusLine = lineEnd < 0 ? text : text.substring(0, lineEnd);
    String headerBlock = lineEnd < 0 ? String() : text.substring(lineEnd + 2);
    HttpResponse response;
    response.parseStatusLine(statusLine);
    response.getHeaders().parse(headerBlock);
    int length = response.getContentLength();
    if (length < -1) {
        __builtin_trap();  // a length is -1 or a size
    }
    response.getText();
    int number = 0;
    response.getHeaders().getIntHeader("Content-Length", number);
    response.getHeaders().getLogText();
    return 0;
}
