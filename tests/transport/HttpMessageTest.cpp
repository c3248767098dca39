#include <gtest/gtest.h>

#include "net/HttpHeader.h"
#include "net/HttpRequest.h"
#include "net/HttpResponse.h"

namespace {
struct StatusCase {
    const char* name;
    const char* line;
    bool accepted;
    const char* version;
    int status;
    const char* reason;
};

void PrintTo(const StatusCase& c, std::ostream* os) {
    *os << testing::PrintToString(std::string(c.line)) << (c.accepted ? " accepted" : " refused");
}

class StatusLineTest : public testing::TestWithParam<StatusCase> {};

TEST_P(StatusLineTest, ParsesOrLeavesUntouched) {
    const StatusCase& c = GetParam();
    HttpResponse response;
    EXPECT_EQ(response.parseStatusLine(c.line), c.accepted);
    if (c.accepted) {
        EXPECT_EQ(response.getVersion(), c.version);
        EXPECT_EQ(response.getStatus(), c.status);
        EXPECT_EQ(response.getReason(), c.reason);
    } else {
        EXPECT_EQ(response.getVersion(), "");
        EXPECT_EQ(response.getStatus(), -1);
        EXPECT_EQ(response.getReason(), "");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, StatusLineTest,
    testing::Values(StatusCase{"Ok11", "HTTP/1.1 200 OK", true, "1.1", 200, "OK"},
                    StatusCase{"ReasonWithSpacesTrimmed", "http/1.0 404  Not Found \t", true, "1.0",
                               404, "Not Found"},
                    StatusCase{"TrailingSpaceGivesEmptyReason", "HTTP/1.0 200 ", true, "1.0", 200,
                               ""},
                    StatusCase{"NoSecondSpace", "HTTP/1.0 200", false, "", -1, ""},
                    StatusCase{"TooShort", "HTTP/1 2 OK", false, "", -1, ""},
                    StatusCase{"NotHttp", "HTTX/1.0 200 OK", false, "", -1, ""},
                    StatusCase{"NoSlash", "HTTP 1.0 200 OK", false, "", -1, ""},
                    StatusCase{"LetterInVersion", "HTTP/1.a 200 OK", false, "", -1, ""},
                    StatusCase{"EmptyVersion", "HTTP/ 200 OK xx", false, "", -1, ""},
                    StatusCase{"LetterInCode", "HTTP/1.0 2x0 OK", false, "", -1, ""},
                    StatusCase{"EmptyCode", "HTTP/1.0  OK bad", false, "", -1, ""},
                    StatusCase{"CodeBeyondInt", "HTTP/1.0 99999999999 OK", false, "", -1, ""}),
    [](const testing::TestParamInfo<StatusCase>& info) { return info.param.name; });

TEST(HttpHeaderTest, ValidationRefusesWithoutChange) {
    HttpHeader h;
    EXPECT_FALSE(h.setHeader("", "v"));
    EXPECT_FALSE(h.setHeader("a:b", "v"));
    EXPECT_FALSE(h.addHeader("a\r", "v"));
    EXPECT_FALSE(h.addHeader("n", ""));
    EXPECT_FALSE(h.addHeader("n", "v\nX-Injected: 1"));
    EXPECT_FALSE(h.setIntHeader("bad:name", 3));
    EXPECT_EQ(h.size(), 0);
}

TEST(HttpHeaderTest, SetMovesToEndAddKeepsBoth) {
    HttpHeader h;
    h.addHeader("A", "1");
    h.addHeader("B", "2");
    h.setHeader("a", "3");
    EXPECT_EQ(h.getText(), "B: 2\r\na: 3\r\n");
    h.addHeader("B", "4");
    EXPECT_EQ(h.getText(), "B: 2\r\na: 3\r\nB: 4\r\n");
    String value;
    EXPECT_TRUE(h.getHeader("b", value));
    EXPECT_EQ(value, "2");
    EXPECT_FALSE(h.getHeader("C", value));
}

TEST(HttpHeaderTest, IntegerHeaders) {
    struct Case {
        const char* text;
        bool numeric;
        int value;
    };
    const Case cases[] = {{"1234", true, 1234},     {"+7", true, 7},   {"-3", true, -3},
                          {"abc", false, 0},        {"12a", false, 0}, {" 5", false, 0},
                          {"99999999999", false, 0}};
    for (const Case& c : cases) {
        HttpHeader h;
        h.addHeader("Content-Length", c.text);
        int value = 0;
        EXPECT_EQ(h.getIntHeader("content-length", value), c.numeric) << c.text;
        if (c.numeric) {
            EXPECT_EQ(value, c.value) << c.text;
        }
    }
    HttpHeader h;
    h.setIntHeader("content-length", 42);
    int value = 0;
    EXPECT_TRUE(h.getIntHeader("Content-Length", value));
    EXPECT_EQ(value, 42);
    EXPECT_EQ(h.getText(), "content-length: 42\r\n");
}

TEST(HttpHeaderTest, ParseTrimsKeepsDuplicatesAndStopsAtBadLine) {
    HttpHeader h;
    EXPECT_TRUE(h.parse(" A :\t1 \r\nA: 2\r\nB:x:y"));
    EXPECT_EQ(h.getText(), "A: 1\r\nA: 2\r\nB: x:y\r\n");
    HttpHeader partial;
    EXPECT_FALSE(partial.parse("C: 1\r\nno colon here\r\nD: 2"));
    EXPECT_EQ(partial.getText(), "C: 1\r\n");
    HttpHeader empty;
    EXPECT_FALSE(empty.parse("E:   "));
    EXPECT_EQ(empty.size(), 0);
}

TEST(HttpRequestTest, DefaultRequestTextExactBytes) {
    HttpRequest request(URL(String("http://h/x")));
    EXPECT_EQ(request.getRequestText(),
              "GET http://h:80/x HTTP/1.0\r\n"
              "Accept: */*\r\n"
              "User-Agent: Mozilla/4.0 (compatible; MSIE 5.0; Windows 98)\r\n"
              "Accept-Language: en-us\r\n"
              "Accept-Encoding: gzip, deflate\r\n"
              "\r\n");
}

TEST(HttpRequestTest, MethodVersionAndUrlAreChecked) {
    HttpRequest request;
    EXPECT_EQ(request.getRequestText(), "");  // no URL yet
    EXPECT_TRUE(request.setMethod("post"));
    EXPECT_FALSE(request.setMethod("FETCH"));
    EXPECT_FALSE(request.setMethod(""));
    EXPECT_EQ(request.getMethod(), "post");
    EXPECT_FALSE(request.setVersion("1.x"));
    EXPECT_FALSE(request.setVersion(""));
    EXPECT_TRUE(request.setVersion("1.1"));
    EXPECT_FALSE(request.setURL(URL("", "h", 80, "/")));
    EXPECT_TRUE(request.setURL(URL(String("https://u:p@H:8443/a"))));
    request.setHeaders(HttpHeader());
    EXPECT_EQ(request.getRequestText(), "");  // no headers
    request.getHeaders().addHeader("X", "1");
    EXPECT_EQ(request.getWireText(), "post https://u:p@h:8443/a HTTP/1.1\r\nX: 1\r\n\r\n");
}

// A proxied request was logged with "Proxy-authorization: Basic dXM6cHc=".
TEST(HttpRequestTest, LoggedTextMasksEveryCredential) {
    HttpRequest request(URL(String("http://us:pw@h/x")));
    request.setHeaders(HttpHeader());
    request.getHeaders().addHeader("Proxy-authorization", "Basic dXM6cHc=");
    request.getHeaders().addHeader("AUTHORIZATION", "Bearer t0k3n");
    request.getHeaders().addHeader("Authorization", "bare");
    request.getHeaders().addHeader("X-Authorization-Hint", "kept");
    EXPECT_EQ(request.getRequestText(),
              "GET http://****@h:80/x HTTP/1.0\r\n"
              "Proxy-authorization: Basic ****\r\n"
              "AUTHORIZATION: Bearer ****\r\n"
              "Authorization: ****\r\n"
              "X-Authorization-Hint: kept\r\n\r\n");
    EXPECT_EQ(request.getWireText(),
              "GET http://us:pw@h:80/x HTTP/1.0\r\n"
              "Proxy-authorization: Basic dXM6cHc=\r\n"
              "AUTHORIZATION: Bearer t0k3n\r\n"
              "Authorization: bare\r\n"
              "X-Authorization-Hint: kept\r\n\r\n");
}

TEST(HttpRequestTest, CopyIsIndependent) {
    HttpRequest a(URL(String("http://h/")));
    a.setPostData("data");
    HttpRequest b(a);
    b.getHeaders().addHeader("Extra", "1");
    EXPECT_EQ(b.getPostData(), "data");
    EXPECT_EQ(a.getHeaders().find("Extra"), -1);
}
TEST(HttpResponseTest, ContentTypeIsTheHeaderOrEmpty) {
    HttpResponse response;
    EXPECT_EQ(response.getContentType(), "");
    ASSERT_TRUE(
        response.getHeaders().addHeader("content-type", " multipart/byteranges; boundary=B "));
    EXPECT_EQ(response.getContentType(), "multipart/byteranges; boundary=B");
}
}  // namespace
