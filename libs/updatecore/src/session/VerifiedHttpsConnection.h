#pragma once

#include "CertLocation.h"
#include "net/HttpsConnection.h"
#include "net/TlsVerification.h"

// An HTTPS connection to an update server, checked as conf/network.xml
// says. A certificate that fails the check is reported on standard error
// ("LmUpdate: cannot verify update server HOST: REASON") whether or not the
// log is shown; a connection without any check says so in the log.
class VerifiedHttpsConnection : public HttpsConnection {
public:
    // The check that the stored setting asks for; a setting that cannot be
    // honoured refuses every connection.
    static TlsVerification verificationFor(const CertLocation& location);

    explicit VerifiedHttpsConnection(const CertLocation& location);

    // The server as the settings name it, for the failure line.
    void setServerEntry(const String& entry) { serverEntry_ = entry; }

    void open() override;

private:
    String serverText() const;

    String serverEntry_;
};
