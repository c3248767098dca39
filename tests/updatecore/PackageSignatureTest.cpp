#include "trust/PackageSignature.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Exception.h"
#include "RunProgram.h"
#include "TempRoot.h"

namespace {
void openssl(const std::vector<std::string>& args) {
    ProgramResult result = runProgram("/usr/bin/openssl", args);
    ASSERT_EQ(result.exitStatus, 0) << result.err;
}

SignedPackageFields sampleFields(const std::string& sha256) {
    return {"1000", "2.1.0.7", "zip", "install.sh", "/opt/app", String(sha256)};
}

struct KeyCase {
    const char* name;
    std::vector<std::string> generate;  // openssl genpkey arguments
    bool rawSignature;                  // Ed25519: pkeyutl -rawin, else dgst -sha256
};

class PackageSignatureTest : public testing::TestWithParam<KeyCase> {
protected:
    // A private key, its public half as the signing key file, and the
    // Base64 signature of text made with the openssl command.
    void makeKey(const KeyCase& c, const std::string& name) {
        std::vector<std::string> args{"genpkey", "-out", root_.file(name + ".key")};
        args.insert(args.end(), c.generate.begin(), c.generate.end());
        openssl(args);
        openssl({"pkey", "-in", root_.file(name + ".key"), "-pubout", "-out",
                 root_.file(name + ".pem")});
    }
    std::string sign(const KeyCase& c, const std::string& name, const std::string& text) {
        root_.write("text", text);
        if (c.rawSignature) {
            openssl({"pkeyutl", "-sign", "-rawin", "-inkey", root_.file(name + ".key"), "-in",
                     root_.file("text"), "-out", root_.file("sig")});
        } else {
            openssl({"dgst", "-sha256", "-sign", root_.file(name + ".key"), "-out",
                     root_.file("sig"), root_.file("text")});
        }
        ProgramResult b64 =
            runProgram("/usr/bin/openssl", {"base64", "-A", "-in", root_.file("sig")});
        return b64.out;
    }

    TempRoot root_;
};

TEST_P(PackageSignatureTest, VerifiesOnlyTheSignedFieldsWithTheRightKey) {
    const KeyCase& c = GetParam();
    makeKey(c, "vendor");
    makeKey(c, "other");
    root_.write("package.zip", "package bytes");
    const std::string sha = PackageSignature::fileSha256(root_.file("package.zip")).str();
    SignedPackageFields fields = sampleFields(sha);
    const std::string signature = sign(c, "vendor", PackageSignature::signedText(fields).str());
    const std::string foreign = sign(c, "other", PackageSignature::signedText(fields).str());

    PackageSignature key(root_.file("vendor.pem"));
    EXPECT_TRUE(key.verify(fields, signature));
    EXPECT_FALSE(key.verify(fields, foreign));

    SignedPackageFields upper = fields;
    upper.sha256 = String(sha).toUpperCase();  // either case, signed in lower case
    EXPECT_TRUE(key.verify(upper, signature));

    SignedPackageFields tampered = fields;
    tampered.installScript = "evil.sh";
    EXPECT_FALSE(key.verify(tampered, signature));
    root_.write("package.zip", "package bytez");
    tampered = fields;
    tampered.sha256 = PackageSignature::fileSha256(root_.file("package.zip"));
    EXPECT_FALSE(key.verify(tampered, signature));

    EXPECT_FALSE(key.verify(fields, signature.substr(0, signature.size() - 4)));
    EXPECT_FALSE(key.verify(fields, "not base64!"));
    EXPECT_FALSE(key.verify(fields, ""));
}

INSTANTIATE_TEST_SUITE_P(
    Keys, PackageSignatureTest,
    testing::Values(
        KeyCase{"Rsa2048", {"-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048"}, false},
        KeyCase{"EcdsaP256", {"-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-256"}, false},
        KeyCase{"Ed25519", {"-algorithm", "ED25519"}, true}),
    [](const testing::TestParamInfo<KeyCase>& info) { return std::string(info.param.name); });

// What scripts/sign-package prints is what the client accepts.
TEST_P(PackageSignatureTest, SignPackageScriptOutputVerifies) {
    const KeyCase& c = GetParam();
    makeKey(c, "vendor");
    root_.write("package.zip", "package bytes");
    ProgramResult r = runProgram(std::string(LM_SOURCE_DIR) + "/scripts/sign-package",
                                 {root_.file("package.zip"), root_.file("vendor.key"), "1000",
                                  "2.1.0.7", "zip", "install.sh", "/opt/app"});
    ASSERT_EQ(r.exitStatus, 0) << r.err;
    const std::string sha = PackageSignature::fileSha256(root_.file("package.zip")).str();
    const std::string prefix = "sha256=\"" + sha + "\" signature=\"";
    ASSERT_EQ(r.out.rfind(prefix, 0), 0u) << r.out;
    ASSERT_EQ(r.out.substr(r.out.size() - 2), "\"\n");
    std::string signature = r.out.substr(prefix.size(), r.out.size() - prefix.size() - 2);
    PackageSignature key(root_.file("vendor.pem"));
    EXPECT_TRUE(key.verify(sampleFields(sha), signature));
    SignedPackageFields other = sampleFields(sha);
    other.installPath = "/opt/other";
    EXPECT_FALSE(key.verify(other, signature));
}

TEST(PackageSignatureKeyTest, UnusableKeysAreRefusedWithTheReason) {
    TempRoot root;
    struct Case {
        std::vector<std::string> generate;  // empty: write text instead
        std::string text;
        std::string reason;
    };
    const Case cases[] = {
        {{"-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:1024"},
         "",
         "RSA key of 1024 bits, at least 2048 needed"},
        {{"-algorithm", "EC", "-pkeyopt", "ec_paramgen_curve:P-384"},
         "",
         "EC key on curve secp384r1, P-256 needed"},
        {{"-algorithm", "X25519"}, "", "unsupported key type X25519"},
        {{}, "-----BEGIN NOTHING-----\n", "not a PEM public key"},
    };
    const std::string path = root.file("key.pem");
    for (const Case& c : cases) {
        if (c.generate.empty()) {
            root.write("key.pem", c.text);
        } else {
            std::vector<std::string> args{"genpkey", "-out", root.file("private.key")};
            args.insert(args.end(), c.generate.begin(), c.generate.end());
            openssl(args);
            openssl({"pkey", "-in", root.file("private.key"), "-pubout", "-out", path});
        }
        try {
            PackageSignature key{String(path)};
            ADD_FAILURE() << "accepted: " << c.reason;
        } catch (const Exception& e) {
            EXPECT_EQ(e.getMessage(), "LmUpdate: signing key unusable: " + path + ": " + c.reason);
        }
    }
    try {
        PackageSignature key{String(root.file("missing.pem"))};
        ADD_FAILURE() << "a missing key was accepted";
    } catch (const Exception& e) {
        EXPECT_EQ(e.getMessage(), "LmUpdate: signing key unusable: " + root.file("missing.pem") +
                                      ": No such file or directory");
    }
}

TEST(PackageSignatureTextTest, SignedTextAndDigests) {
    SignedPackageFields fields = sampleFields(std::string(64, 'A'));
    EXPECT_EQ(PackageSignature::signedText(fields),
              "lmupdate-package-v1\n1000\n2.1.0.7\nzip\ninstall.sh\n/opt/app\n" +
                  std::string(64, 'a') + "\n");
    EXPECT_TRUE(PackageSignature::isSha256Text(std::string(32, 'F') + std::string(32, '0')));
    EXPECT_FALSE(PackageSignature::isSha256Text(std::string(63, 'a')));
    EXPECT_FALSE(PackageSignature::isSha256Text(std::string(63, 'a') + "g"));
    TempRoot root;
    root.write("abc", "abc");
    EXPECT_EQ(PackageSignature::fileSha256(root.file("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_THROW(PackageSignature::fileSha256(root.file("none")), IOException);
}
}  // namespace
