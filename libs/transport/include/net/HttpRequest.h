#pragma once

#include "net/HttpHeader.h"
#include "net/URL.h"

// An HTTP/1.0 request: method, absolute URL, version, headers, and the body
// to post from memory or from a file.
class HttpRequest {
public:
    HttpRequest();
    explicit HttpRequest(const URL& url);
    HttpRequest(const HttpRequest&) = default;
    HttpRequest& operator=(const HttpRequest&) = default;
    virtual ~HttpRequest() = default;

    // Accepted only with a protocol and a host.
    bool setURL(const URL& url);
    const URL& getURL() const { return url_; }
    // One of GET POST HEAD OPTIONS PUT DELETE TRACE in any case; kept as given.
    bool setMethod(const String& method);
    const String& getMethod() const { return method_; }
    // Digits and "." only.
    bool setVersion(const String& version);
    const String& getVersion() const { return version_; }

    void setHeaders(const HttpHeader& headers) { headers_ = headers; }
    HttpHeader& getHeaders() { return headers_; }
    const HttpHeader& getHeaders() const { return headers_; }

    void setPostData(const String& data) { postData_ = data; }
    const String& getPostData() const { return postData_; }
    void setPostFile(const String& path) { postFile_ = path; }
    const String& getPostFile() const { return postFile_; }

    // Request line, headers and the blank line, as a log may show them: the
    // password of the URL and the credentials of Authorization and
    // Proxy-Authorization headers read "****". Empty without a usable URL or
    // without headers.
    String getRequestText() const;
    // The same with the credentials: what goes to the server.
    String getWireText() const;

private:
    void setDefaultHeaders();
    String text(bool forLog) const;

    String method_ = "GET";
    String version_ = "1.0";
    URL url_;
    HttpHeader headers_;
    String postData_;
    String postFile_;
};
