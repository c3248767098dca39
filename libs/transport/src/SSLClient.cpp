#include "net/SSLClient.h"

#include <fcntl.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>
#include <poll.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "SystemLog.h"
#include "net/AlarmGuard.h"
#include "net/SSLException.h"
#include "net/SSLSettings.h"
#include "net/SigPipeGuard.h"
#include "net/TlsPeerCheck.h"

namespace {
constexpr const char kSource[] = "net/SSL";

bool libraryStarted = false;

[[noreturn]] void fail(const String& message, int line) {
    throw SSLException(message, kSource, line);
}

String errorText(unsigned long code) {
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return String(text);
}

// The oldest queued error; when the queue is empty (a plain system failure
// or the peer hanging up), what the system says instead.
String failureText(int savedErrno) {
    unsigned long code = ERR_get_error();
    if (code != 0) {
        return errorText(code);
    }
    return savedErrno != 0 ? String(std::strerror(savedErrno)) : String("unexpected end of stream");
}

struct CertificateDeleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using Certificate = std::unique_ptr<X509, CertificateDeleter>;

// A name from the certificate as text, freed by OpenSSL's allocator.
struct OpenSSLFree {
    void operator()(char* text) const { OPENSSL_free(text); }
};
using NameText = std::unique_ptr<char, OpenSSLFree>;

enum class FileKind { kPem, kDer, kEngine };

FileKind fileKind(const String& type) {
    if (type.equalsIgnoreCase("DER")) {
        return FileKind::kDer;
    }
    return type.equalsIgnoreCase("ENG") ? FileKind::kEngine : FileKind::kPem;
}

int passwordCallback(char* buffer, int size, int forWriting, void* userData) {
    const auto* password = static_cast<const String*>(userData);
    if (forWriting != 0 || password == nullptr || password->length() >= size) {
        return 0;
    }
    std::memcpy(buffer, password->c_str(), static_cast<size_t>(password->length()) + 1);
    return password->length();
}

int verifyCallback(int verdict, X509_STORE_CTX* store) {
    X509* current = X509_STORE_CTX_get_current_cert(store);
    if (verdict == 0 && current != nullptr) {
        NameText subject(X509_NAME_oneline(X509_get_subject_name(current), nullptr, 0));
        SystemLog::write(String("SSL: verify error: ") +
                             X509_verify_cert_error_string(X509_STORE_CTX_get_error(store)) + ": " +
                             (subject ? subject.get() : ""),
                         LogPriority::kError);
    }
    return verdict;
}

bool useCertificate(SSL_CTX* context, const String& file, FileKind kind) {
    if (kind == FileKind::kEngine) {
        SystemLog::write("SSL: file type ENG for certificate not implemented", LogPriority::kError);
        return false;
    }
    bool loaded = kind == FileKind::kDer
                      ? SSL_CTX_use_certificate_file(context, file.c_str(), SSL_FILETYPE_ASN1) == 1
                      : SSL_CTX_use_certificate_chain_file(context, file.c_str()) == 1;
    if (!loaded) {
        SystemLog::write("SSL: unable to set certificate file (wrong password?)",
                         LogPriority::kError);
    }
    return loaded;
}

bool usePrivateKey(SSL_CTX* context) {
    const String& keyFile = SSLSettings::getKeyFile();
    const String& keyType = SSLSettings::getKeyType();
    FileKind kind = fileKind(keyType);
    if (kind == FileKind::kEngine) {
        return true;
    }
    const String& file =
        kind == FileKind::kPem && keyFile.isEmpty() ? SSLSettings::getCertificateFile() : keyFile;
    int type = kind == FileKind::kDer ? SSL_FILETYPE_ASN1 : SSL_FILETYPE_PEM;
    if (SSL_CTX_use_PrivateKey_file(context, file.c_str(), type) == 1) {
        return true;
    }
    SystemLog::write(String("SSL: unable to set private key file: '") + keyFile + "' type " +
                         (keyType.isEmpty() ? String("PEM") : keyType),
                     LogPriority::kError);
    return false;
}

bool keyMatchesCertificate(SSL_CTX* context) {
    std::unique_ptr<SSL, decltype(&SSL_free)> probe(SSL_new(context), &SSL_free);
    if (probe) {
        if (X509* certificate = SSL_get_certificate(probe.get())) {
            EVP_PKEY* publicKey = X509_get_pubkey(certificate);
            EVP_PKEY* privateKey = SSL_get_privatekey(probe.get());
            if (publicKey != nullptr && privateKey != nullptr) {
                EVP_PKEY_copy_parameters(publicKey, privateKey);
            }
            EVP_PKEY_free(publicKey);
        }
    }
    probe.reset();
    if (SSL_CTX_check_private_key(context) != 1) {
        SystemLog::write("SSL: Private key does not match the certificate public key",
                         LogPriority::kError);
        return false;
    }
    return true;
}

// The outcome of one OpenSSL I/O call, read before anything can disturb it.
struct IoOutcome {
    int result = 0;
    int error = SSL_ERROR_NONE;
    int savedErrno = 0;
};

// Runs call on ssl with SIGPIPE held off (OpenSSL writes with plain write).
template <class Call>
IoOutcome runIo(SSL* ssl, Call call) {
    ERR_clear_error();
    SigPipeGuard noSigPipe;
    errno = 0;
    IoOutcome outcome;
    outcome.result = call(ssl);
    outcome.savedErrno = errno;
    outcome.error = SSL_get_error(ssl, outcome.result);
    return outcome;
}

// Restores the descriptor's blocking mode when the handshake is over.
class NonBlockingScope {
public:
    explicit NonBlockingScope(int fd) : fd_(fd), flags_(fcntl(fd, F_GETFL)) {
        if (flags_ >= 0) {
            fcntl(fd_, F_SETFL, flags_ | O_NONBLOCK);
        }
    }
    ~NonBlockingScope() {
        if (flags_ >= 0) {
            fcntl(fd_, F_SETFL, flags_);
        }
    }
    NonBlockingScope(const NonBlockingScope&) = delete;
    NonBlockingScope& operator=(const NonBlockingScope&) = delete;

private:
    int fd_;
    int flags_;
};
}  // namespace

SSLClient::SSLClient() = default;

SSLClient::~SSLClient() {
    end();
}

void SSLClient::startup() {
    if (libraryStarted) {
        return;
    }
    OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr);
    libraryStarted = true;
}

// OpenSSL releases its tables itself at exit; cleaning up earlier would make
// any later start-up in this process impossible.
void SSLClient::shutdown() {
    libraryStarted = false;
}

bool SSLClient::isLibraryStarted() {
    return libraryStarted;
}

String SSLClient::formatVersion(unsigned long v) {
    char text[64];
    if (v >= 0x30000000UL) {
        // Since 3.0 the number holds major, minor and patch, no letters.
        std::snprintf(text, sizeof text, " OpenSSL/%lu.%lu.%lu", v >> 28, (v >> 20) & 0xff,
                      (v >> 4) & 0xff);
        return String(text);
    }
    char letter[2] = "";
    if (v < 0x00906000UL) {
        v = 0x009080FFUL;
    } else if ((v & 0xff0) != 0) {
        letter[0] = static_cast<char>(0x60 + ((v >> 4) & 0xff));
    }
    std::snprintf(text, sizeof text, " OpenSSL/%lx.%lx.%lx%s", v >> 28, (v >> 20) & 0xff,
                  (v >> 12) & 0xff, letter);
    return String(text);
}

String SSLClient::getVersionText() {
    return formatVersion(OpenSSL_version_num());
}

int SSLClient::handshake(int fd, int timeoutMs, const TlsPeerCheck& peer) {
    started_ = true;
    fd_ = fd;
    ERR_clear_error();
    createContext(peer);
    createSession(fd, peer);
    connect(timeoutMs < 1 ? kDefaultHandshakeMs : timeoutMs, peer);
    checkPeer();
    return 0;
}

void SSLClient::createContext(const TlsPeerCheck& peer) {
    int version = SSLSettings::getVersion();
    if (version == SSLSettings::kSSLv2 || version == SSLSettings::kSSLv3) {
        fail(String("SSL: ") + (version == SSLSettings::kSSLv2 ? "SSLv2" : "SSLv3") +
                 " is not supported by this OpenSSL version",
             __LINE__);
    }
    context_.reset(SSL_CTX_new(TLS_client_method()));
    if (!context_) {
        fail("SSL: couldn't create a SSL context!", __LINE__);
    }
    SSL_CTX* context = context_.get();
    if (version == SSLSettings::kTLSv1) {
        // TLS 1.0 needs the lowest security level of OpenSSL 3.
        SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
        SSL_CTX_set_max_proto_version(context, TLS1_VERSION);
        SSL_CTX_set_security_level(context, 0);
    } else {
        SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    }
    // A server that just closes the connection ends the stream, as HTTP/1.0
    // servers do; lengths and digests are checked above this layer.
    SSL_CTX_set_options(context, SSL_OP_IGNORE_UNEXPECTED_EOF);
    if (!SSLSettings::getCertificateFile().isEmpty() && !loadClientCertificate()) {
        fail("SSL: load client certificate failed", __LINE__);
    }
    const String& ciphers = SSLSettings::getCipherList();
    if (!ciphers.isEmpty() && SSL_CTX_set_cipher_list(context, ciphers.c_str()) != 1) {
        fail("SSL: failed setting cipher list", __LINE__);
    }
    peer.configureContext(context, verifyCallback);
}

bool SSLClient::loadClientCertificate() {
    SSL_CTX* context = context_.get();
    keyPassword_ = SSLSettings::getKeyPassword();
    if (!keyPassword_.isEmpty()) {
        SSL_CTX_set_default_passwd_cb_userdata(context, &keyPassword_);
        SSL_CTX_set_default_passwd_cb(context, passwordCallback);
    }
    return useCertificate(context, SSLSettings::getCertificateFile(),
                          fileKind(SSLSettings::getCertificateType())) &&
           usePrivateKey(context) && keyMatchesCertificate(context);
}

void SSLClient::createSession(int fd, const TlsPeerCheck& peer) {
    ssl_.reset(SSL_new(context_.get()));
    if (!ssl_ || SSL_set_fd(ssl_.get(), fd) != 1) {
        fail("SSL: couldn't create a SSL session!", __LINE__);
    }
    peer.configureSession(ssl_.get());
    SSL_set_connect_state(ssl_.get());
}

// Runs the handshake on a non-blocking descriptor so that each wait for the
// peer is bounded by the limit, even where no alarm is armed.
void SSLClient::connect(int limitMs, const TlsPeerCheck& peer) {
    NonBlockingScope nonBlocking(fd_);
    for (;;) {
        IoOutcome outcome = runIo(ssl_.get(), [](SSL* ssl) { return SSL_connect(ssl); });
        if (outcome.result == 1) {
            return;
        }
        int error = outcome.error;
        if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) {
            failHandshake(outcome.savedErrno, peer);
        }
        pollfd entry{fd_, static_cast<short>(error == SSL_ERROR_WANT_WRITE ? POLLOUT : POLLIN), 0};
        int ready = ::poll(&entry, 1, limitMs);
        if (ready > 0) {
            continue;
        }
        if (ready == 0 || AlarmGuard::expired()) {
            fail("EC_CONNECT_TIMEOUT: SSL: connection timeout", __LINE__);
        }
        if (errno != EINTR) {
            return;  // the peer checks that follow report the failure
        }
    }
}

// A certificate the peer check refused is reported with OpenSSL's reason,
// for the caller to show; anything else with the library's error.
void SSLClient::failHandshake(int savedErrno, const TlsPeerCheck& peer) {
    String reason = peer.failureReason(ssl_.get());
    if (!reason.isEmpty()) {
        verifyResult_ = SSL_get_verify_result(ssl_.get());
        throw SSLException("SSL: certificate verify failed: " + reason, kSource, __LINE__, reason);
    }
    fail("SSL: " + failureText(savedErrno), __LINE__);
}

void SSLClient::checkPeer() {
    Certificate peer(SSL_get1_peer_certificate(ssl_.get()));
    if (!peer) {
        fail("SSL: couldn't get peer certificate!", __LINE__);
    }
    SystemLog::write("Server certificate!");
    NameText subject(X509_NAME_oneline(X509_get_subject_name(peer.get()), nullptr, 0));
    if (!subject) {
        fail("SSL: couldn't get X509-subject!", __LINE__);
    }
    SystemLog::write(String("\t subject: ") + subject.get());
    subject.reset();
    NameText issuer(X509_NAME_oneline(X509_get_issuer_name(peer.get()), nullptr, 0));
    if (!issuer) {
        fail("SSL: couldn't get X509-issuer name!", __LINE__);
    }
    storeVerifyResult();
}

void SSLClient::storeVerifyResult() {
    verifyResult_ = 0;
    if (SSL_get_verify_mode(ssl_.get()) == SSL_VERIFY_NONE) {
        return;
    }
    verifyResult_ = SSL_get_verify_result(ssl_.get());
    if (verifyResult_ != X509_V_OK) {
        fail(String("SSL: certificate verify failed: ").append(verifyResult_), __LINE__);
    }
}

int SSLClient::read(char* buffer, int size) {
    if (!ssl_) {
        return -1;
    }
    IoOutcome outcome = runIo(ssl_.get(), [&](SSL* ssl) { return SSL_read(ssl, buffer, size); });
    const int result = outcome.result;
    if (result > 0) {
        return result;
    }
    if (result == 0) {
        SystemLog::write(
            outcome.error == SSL_ERROR_ZERO_RETURN
                ? String("SSL: read failed: the connection was shut down by peer cleanly")
                : "SSL: read failed: " + failureText(outcome.savedErrno));
        return 0;
    }
    switch (outcome.error) {
        case SSL_ERROR_NONE:
        case SSL_ERROR_ZERO_RETURN:
            return result;
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return -1;
        default:
            throw IOException(String("EC_READ_FAILED: SSL read failed: ") +
                                  errorText(ERR_get_error()) + " errno " +
                                  String().append(outcome.savedErrno),
                              kSource, __LINE__);
    }
}

int SSLClient::write(const char* data, int length) {
    if (!ssl_) {
        return -1;
    }
    IoOutcome outcome = runIo(ssl_.get(), [&](SSL* ssl) { return SSL_write(ssl, data, length); });
    const int result = outcome.result;
    if (result >= 0) {
        return result;
    }
    switch (outcome.error) {
        case SSL_ERROR_WANT_READ:
        case SSL_ERROR_WANT_WRITE:
            return 0;
        case SSL_ERROR_SYSCALL:
            fail(String("EC_WRITE_FAILED: SSL write failed in SYSCALL, errno = ")
                     .append(outcome.savedErrno),
                 __LINE__);
        default:
            fail(String("EC_WRITE_FAILED: SSL write failed, error = ").append(outcome.error),
                 __LINE__);
    }
}

void SSLClient::end() {
    if (ssl_) {
        // A session that never finished its handshake has nothing to close.
        if (SSL_is_init_finished(ssl_.get())) {
            // The close notice is offered, not insisted on: a peer that
            // stopped reading must not hold the close up for ever.
            NonBlockingScope nonBlocking(fd_);
            SigPipeGuard noSigPipe;
            SSL_shutdown(ssl_.get());
        }
        SSL_set_connect_state(ssl_.get());
        ssl_.reset();
    }
    context_.reset();
    // Leave no stale entry for the next OpenSSL user of this thread.
    ERR_clear_error();
}
