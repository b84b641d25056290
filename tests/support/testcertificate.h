#pragma once

#include <QSslCertificate>
#include <QSslKey>

namespace testsupport {

// A certificate authority and a server certificate for 127.0.0.1 and localhost, made once per
// test process with the openssl command. Creating it makes the process trust the authority: the
// default TLS configuration gets the system authorities plus this one (setting a file through the
// environment does not work with this Qt, and adding certificates alone drops the system ones).
class TTestCertificate
{
public:
    static const TTestCertificate& instance();

    bool isValid() const { return !m_ServerCertificate.isNull() && !m_ServerKey.isNull(); }
    QSslCertificate authorityCertificate() const { return m_AuthorityCertificate; }
    QSslCertificate serverCertificate() const { return m_ServerCertificate; }
    QSslKey serverKey() const { return m_ServerKey; }

private:
    TTestCertificate();

    QSslCertificate m_AuthorityCertificate;
    QSslCertificate m_ServerCertificate;
    QSslKey m_ServerKey;
};

} // namespace testsupport
