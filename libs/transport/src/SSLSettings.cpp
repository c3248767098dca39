#include "net/SSLSettings.h"

namespace {
struct Settings {
    int version = SSLSettings::kNegotiate;
    String cipherList;
    String certificateFile;
    String certificateType = "PEM";
    String keyFile;
    String keyType = "PEM";
    String keyPassword;
};

Settings& settings() {
    static Settings instance;
    return instance;
}
}  // namespace

void SSLSettings::setVersion(int version) {
    settings().version = version;
}

void SSLSettings::setKeyPassword(const String& password) {
    settings().keyPassword = password;
}

void SSLSettings::setPrivateKey(const String& file, const String& type) {
    settings().keyFile = file;
    settings().keyType = type;
}

void SSLSettings::setCertificate(const String& file, const String& type) {
    settings().certificateFile = file;
    settings().certificateType = type;
}

void SSLSettings::setCipherList(const String& ciphers) {
    settings().cipherList = ciphers;
}

void SSLSettings::reset() {
    settings() = Settings();
}

int SSLSettings::getVersion() {
    return settings().version;
}
const String& SSLSettings::getKeyPassword() {
    return settings().keyPassword;
}
const String& SSLSettings::getKeyFile() {
    return settings().keyFile;
}
const String& SSLSettings::getKeyType() {
    return settings().keyType;
}
const String& SSLSettings::getCertificateFile() {
    return settings().certificateFile;
}
const String& SSLSettings::getCertificateType() {
    return settings().certificateType;
}
const String& SSLSettings::getCipherList() {
    return settings().cipherList;
}
