#pragma once

#include "String.h"

// An absolute URL: protocol "://" [user ":" password "@"] host [":" port]
// [path], host a name, a dotted number or an IPv6 literal in brackets
// ("http://[::1]:8080/x"). Protocol and host are kept in lower case; a
// missing port is the protocol's default (-1 when it has none).
//
// getHost() gives an IPv6 literal without its brackets ("::1"), as the
// resolver and certificate checks want it; getHostText() and toString()
// write it with them, as request lines and Host headers need it.
class URL : public LmObject {
public:
    URL() = default;
    URL(const String& protocol, const String& host, const String& file);
    URL(const String& protocol, const String& host, int port, const String& file);
    // Parses text; raises Exception "Malformed URL".
    explicit URL(const String& text);

    const String& getProtocol() const { return protocol_; }
    const String& getHost() const { return host_; }
    // The host as a URL writes it: an IPv6 literal in brackets.
    String getHostText() const { return bracketed(host_); }
    int getPort() const { return port_; }
    // The Host header's value: the host text, with ":port" unless the port
    // is the protocol's default.
    String getHostHeader() const;
    String getFile() const { return file_; }
    const String& getUser() const { return user_; }
    const String& getPassword() const { return password_; }
    bool isValid() const { return !protocol_.isEmpty() && !host_.isEmpty(); }

    // Protocol and host ignoring case, port, and file byte for byte; the
    // credentials take no part.
    bool operator==(const URL& other) const;

    String toString() const override;

    // 80 for http, 443 for https, 21 for ftp, else -1.
    static int defaultPort(const String& protocol);
    // host in brackets when it is a bare IPv6 literal (holds a ':'), else
    // as is.
    static String bracketed(const String& host);
    // Parses text and prints it back (raises like the constructor).
    static String normalize(const String& text);
    // text, which need not parse, for a log: the user information of a
    // URL in it ("user:password@") reads "****@".
    static String masked(const String& text);

private:
    void parse(const String& text);
    void parseAuthority(String authority);
    void parseHostAndPort(const String& hostPort);

    String protocol_;
    String host_;
    int port_ = -1;
    String file_;
    String user_;
    String password_;
};
