#include "RSAUtil.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include <unistd.h>

#include "DebugLog.h"
#include "TempRoot.h"

namespace {
// Keys made once per test program with the openssl command-line tool.
class RSAUtilTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        root_ = std::make_unique<TempRoot>();
        std::string dir = root_->path();
        std::string commands =
            "cd '" + dir +
            "' && openssl genrsa -out private.pem 1024 2>/dev/null"
            " && openssl rsa -in private.pem -pubout -out public.pem 2>/dev/null"
            " && openssl rsa -in private.pem -RSAPublicKey_out -out rsapublic.pem 2>/dev/null"
            " && openssl req -new -x509 -key private.pem -subj /CN=test -days 2 -out cert.pem"
            " 2>/dev/null"
            " && openssl rsa -in private.pem -aes128 -passout pass:secret -out locked.pem"
            " 2>/dev/null";
        ASSERT_EQ(std::system(commands.c_str()), 0);
        root_->write("other.pem", "not a key at all\n");
    }
    static void TearDownTestSuite() { root_.reset(); }
    static String path(const char* name) { return String(root_->file(name)); }

    static std::unique_ptr<TempRoot> root_;
};

std::unique_ptr<TempRoot> RSAUtilTest::root_;

const unsigned char kMessage[] = "attack at dawn";
constexpr int kMessageLength = 14;

std::string decrypted(const unsigned char* buffer, int n) {
    return n > 0 ? std::string(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n))
                 : std::string();
}

TEST_F(RSAUtilTest, RoundTripsWithEveryPublicKeyForm) {
    for (const char* publicFile : {"public.pem", "rsapublic.pem", "cert.pem"}) {
        RSAUtil rsa(path("private.pem"), path(publicFile), String(), false);
        ASSERT_TRUE(rsa.hasPrivateKey());
        ASSERT_TRUE(rsa.hasPublicKey()) << publicFile;

        String secret = rsa.publicEncrypt(kMessage, kMessageLength);
        EXPECT_EQ(secret.length(), 256) << publicFile;
        EXPECT_EQ(secret, secret.toUpperCase());
        unsigned char plain[128];
        EXPECT_EQ(decrypted(plain, rsa.privateDecrypt(secret, plain, sizeof plain)),
                  "attack at dawn");
        // Lower-case hex is accepted too.
        EXPECT_EQ(rsa.privateDecrypt(secret.toLowerCase(), plain, sizeof plain), kMessageLength);

        String signature = rsa.privateEncrypt(kMessage, kMessageLength);
        EXPECT_EQ(signature.length(), 256);
        EXPECT_EQ(decrypted(plain, rsa.publicDecrypt(signature, plain, sizeof plain)),
                  "attack at dawn");
    }
}

TEST_F(RSAUtilTest, RawModePadsShortInputToKeySize) {
    RSAUtil rsa(path("private.pem"), path("public.pem"), String(), true);
    const unsigned char shortInput[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    String secret = rsa.publicEncrypt(shortInput, 10);
    ASSERT_EQ(secret.length(), 256);
    unsigned char plain[256];
    int n = rsa.privateDecrypt(secret, plain, sizeof plain);
    ASSERT_EQ(n, 128);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(plain), 10),
              std::string(reinterpret_cast<const char*>(shortInput), 10));

    String signature = rsa.privateEncrypt(shortInput, 10);
    ASSERT_EQ(signature.length(), 256);
    EXPECT_EQ(rsa.publicDecrypt(signature, plain, sizeof plain), 128);
    EXPECT_EQ(plain[9], 10);

    // The caller's buffer bounds the copy.
    EXPECT_EQ(rsa.privateDecrypt(secret, plain, 16), 16);
}

TEST_F(RSAUtilTest, Pkcs1RefusesMoreThan117Bytes) {
    RSAUtil rsa(path("private.pem"), path("public.pem"), String(), false);
    unsigned char block[129] = {};
    EXPECT_EQ(rsa.publicEncrypt(block, 117).length(), 256);
    EXPECT_EQ(rsa.publicEncrypt(block, 118), "");
    EXPECT_EQ(rsa.privateEncrypt(block, 117).length(), 256);
    EXPECT_EQ(rsa.privateEncrypt(block, 118), "");
    RSAUtil raw(path("private.pem"), path("public.pem"), String(), true);
    EXPECT_EQ(raw.publicEncrypt(block, 129), "");
}

TEST_F(RSAUtilTest, PassPhraseProtectedKey) {
    RSAUtil right(path("locked.pem"), path("public.pem"), String("secret"), false);
    ASSERT_TRUE(right.hasPrivateKey());
    unsigned char plain[128];
    String secret = right.publicEncrypt(kMessage, kMessageLength);
    EXPECT_EQ(right.privateDecrypt(secret, plain, sizeof plain), kMessageLength);

    testing::internal::CaptureStderr();
    RSAUtil wrong(path("locked.pem"), String(), String("wrong"), false);
    RSAUtil none(path("locked.pem"), String(), String(), false);  // must not prompt
    std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(wrong.hasPrivateKey());
    EXPECT_FALSE(none.hasPrivateKey());
    EXPECT_NE(errors, "");
}

TEST_F(RSAUtilTest, MissingOrUnknownKeysGiveEmptyResults) {
    RSAUtil unknown(path("missing.pem"), path("other.pem"), String(), false);
    EXPECT_FALSE(unknown.hasPrivateKey());
    EXPECT_FALSE(unknown.hasPublicKey());
    EXPECT_EQ(unknown.publicEncrypt(kMessage, kMessageLength), "");
    EXPECT_EQ(unknown.privateEncrypt(kMessage, kMessageLength), "");
    unsigned char plain[128];
    EXPECT_LE(unknown.privateDecrypt(String("00AB"), plain, sizeof plain), 0);
    EXPECT_LE(unknown.publicDecrypt(String("00AB"), plain, sizeof plain), 0);
}

TEST_F(RSAUtilTest, FailuresReachTheDebugLog) {
    std::string logFile = root_->file("rsatest-" + std::to_string(getpid()) + ".log");
    Log::getDebugLog().open(String(logFile));
    Log::setDebugEnabled(true);
    testing::internal::CaptureStderr();
    RSAUtil rsa(path("other.pem"), String(), String(), false);  // not a private key
    std::string errors = testing::internal::GetCapturedStderr();
    Log::setDebugEnabled(false);
    Log::getDebugLog().open(String());
    EXPECT_FALSE(rsa.hasPrivateKey());
    EXPECT_NE(errors, "");
    EXPECT_NE(root_->read(logFile.substr(logFile.rfind('/') + 1)).find("\tdebug\t"),
              std::string::npos);
    std::string base = logFile.substr(logFile.rfind('/') + 1);
    unlink(("/tmp/" + base + ".lock").c_str());
    unlink(("/tmp/" + base + ".rlock").c_str());
}

TEST_F(RSAUtilTest, GarbageCiphertextFails) {
    RSAUtil rsa(path("private.pem"), path("public.pem"), String(), false);
    unsigned char plain[128];
    testing::internal::CaptureStderr();
    EXPECT_LE(rsa.publicDecrypt(String("0102"), plain, sizeof plain), 0);
    EXPECT_LE(rsa.privateDecrypt(String("zz"), plain, sizeof plain), 0);
    testing::internal::GetCapturedStderr();
}
}  // namespace
