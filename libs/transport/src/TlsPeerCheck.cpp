#include "net/TlsPeerCheck.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "SystemLog.h"
#include "net/SSLException.h"

namespace {
constexpr const char kSource[] = "net/TlsPeerCheck";

String withoutBrackets(const String& host) {
    if (host.length() >= 2 && host.startsWith("[") && host.endsWith("]")) {
        return host.substring(1, host.length() - 1);
    }
    return host;
}

// The library's reason for the last failure, for a file it could not use.
String libraryReason() {
    const char* reason = ERR_reason_error_string(ERR_peek_last_error());
    return reason != nullptr ? String(reason) : String("no certificate found");
}

// Whether the directory can be listed; errno tells why not.
struct DirectoryCloser {
    void operator()(DIR* directory) const { closedir(directory); }
};
struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};

bool canList(const char* path) {
    return std::unique_ptr<DIR, DirectoryCloser>(opendir(path)) != nullptr;
}

// Whether the file can be opened for reading; errno tells why not.
bool canRead(const char* path) {
    return std::unique_ptr<FILE, FileCloser>(std::fopen(path, "r")) != nullptr;
}
}  // namespace

TlsPeerCheck::TlsPeerCheck(const TlsVerification& verification, const String& host)
    : verification_(verification), host_(withoutBrackets(host)) {}

bool TlsPeerCheck::isIpLiteral(const String& host) {
    String bare = withoutBrackets(host);
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, bare.c_str(), address) == 1 ||
           inet_pton(AF_INET6, bare.c_str(), address) == 1;
}

void TlsPeerCheck::failToRead(const String& why, int line) const {
    String reason = "cannot read CA " + verification_.location + ": " + why;
    throw SSLException("SSL: " + reason, kSource, line, reason);
}

void TlsPeerCheck::configureContext(SSL_CTX* context, SSL_verify_cb callback) const {
    if (verification_.mode == TlsVerification::Mode::kRefused) {
        throw SSLException("SSL: " + verification_.location, kSource, __LINE__,
                           verification_.location);
    }
    if (!isOn()) {
        SSL_CTX_set_verify(context, SSL_VERIFY_NONE, callback);
        return;
    }
    SystemLog::write("Enable Server Verify");
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, callback);
    loadTrust(context);
}

// A configured location is the only trust; a location that cannot be read
// fails rather than falling back to no verification.
void TlsPeerCheck::loadTrust(SSL_CTX* context) const {
    if (verification_.mode == TlsVerification::Mode::kSystem) {
        if (SSL_CTX_set_default_verify_paths(context) != 1) {
            throw SSLException("SSL: cannot load the system trust store", kSource, __LINE__,
                               "cannot load the system trust store");
        }
        return;
    }
    const char* path = verification_.location.c_str();
    struct stat status {};
    if (verification_.location.isEmpty()) {
        failToRead("no path", __LINE__);
    }
    if (::stat(path, &status) != 0) {
        failToRead(std::strerror(errno), __LINE__);
    }
    if (S_ISDIR(status.st_mode)) {
        if (!canList(path)) {
            failToRead(std::strerror(errno), __LINE__);
        }
        if (SSL_CTX_load_verify_dir(context, path) != 1) {
            failToRead(libraryReason(), __LINE__);
        }
        return;
    }
    if (!canRead(path)) {
        failToRead(std::strerror(errno), __LINE__);
    }
    ERR_clear_error();
    if (SSL_CTX_load_verify_file(context, path) != 1) {
        failToRead(libraryReason(), __LINE__);
    }
}

void TlsPeerCheck::configureSession(SSL* ssl) const {
    bool address = isIpLiteral(host_);
    if (!address && !host_.isEmpty() && SSL_set_tlsext_host_name(ssl, host_.c_str()) != 1) {
        throw SSLException("SSL: cannot set the server name " + host_, kSource, __LINE__);
    }
    if (!isOn()) {
        return;
    }
    X509_VERIFY_PARAM* parameters = SSL_get0_param(ssl);
    // No name at all must not mean "any name".
    bool named =
        !host_.isEmpty() && (address ? X509_VERIFY_PARAM_set1_ip_asc(parameters, host_.c_str()) == 1
                                     : SSL_set1_host(ssl, host_.c_str()) == 1);
    if (!named) {
        throw SSLException("SSL: cannot check the server name '" + host_ + "'", kSource, __LINE__,
                           "invalid server name '" + host_ + "'");
    }
    SSL_set_hostflags(ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
}

String TlsPeerCheck::failureReason(const SSL* ssl) const {
    if (!isOn()) {
        return String();
    }
    long result = SSL_get_verify_result(ssl);
    return result == X509_V_OK ? String() : String(X509_verify_cert_error_string(result));
}
