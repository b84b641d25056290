#include "testcertificate.h"

#include <QDebug>
#include <QFile>
#include <QProcess>
#include <QSslConfiguration>
#include <QTemporaryDir>

namespace testsupport {

namespace {

bool runOpenssl(const QString& directory, const QStringList& arguments)
{
    QProcess openssl;
    openssl.setWorkingDirectory(directory);
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(60000) || openssl.exitStatus() != QProcess::NormalExit ||
        openssl.exitCode() != 0) {
        qWarning() << "openssl" << arguments << "failed:" << openssl.readAll();
        return false;
    }
    return true;
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

const TTestCertificate& TTestCertificate::instance()
{
    static const TTestCertificate certificate;
    return certificate;
}

TTestCertificate::TTestCertificate()
{
    QTemporaryDir directory;
    const QString dir = directory.path();
    const QStringList ecKey = {
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    QFile extensions(dir + QStringLiteral("/server.ext"));
    if (!extensions.open(QIODevice::WriteOnly))
        return;
    extensions.write("subjectAltName=IP:127.0.0.1,DNS:localhost\n"
                     "basicConstraints=CA:FALSE\n"
                     "extendedKeyUsage=serverAuth\n");
    extensions.close();

    const bool made =
        runOpenssl(dir, QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + ecKey +
                            QStringList{QStringLiteral("-keyout"), QStringLiteral("ca.key"),
                                        QStringLiteral("-out"), QStringLiteral("ca.crt"),
                                        QStringLiteral("-days"), QStringLiteral("2"),
                                        QStringLiteral("-subj"), QStringLiteral("/CN=Test CA")}) &&
        runOpenssl(dir,
                   QStringList{QStringLiteral("req")} + ecKey +
                       QStringList{QStringLiteral("-keyout"), QStringLiteral("server.key"),
                                   QStringLiteral("-out"), QStringLiteral("server.csr"),
                                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1")}) &&
        runOpenssl(dir,
                   {QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                    QStringLiteral("server.csr"), QStringLiteral("-CA"), QStringLiteral("ca.crt"),
                    QStringLiteral("-CAkey"), QStringLiteral("ca.key"),
                    QStringLiteral("-CAcreateserial"), QStringLiteral("-out"),
                    QStringLiteral("server.crt"), QStringLiteral("-days"), QStringLiteral("2"),
                    QStringLiteral("-extfile"), QStringLiteral("server.ext")});
    if (!made)
        return;

    m_AuthorityCertificate = QSslCertificate(readFile(dir + QStringLiteral("/ca.crt")));
    m_ServerCertificate = QSslCertificate(readFile(dir + QStringLiteral("/server.crt")));
    m_ServerKey = QSslKey(readFile(dir + QStringLiteral("/server.key")), QSsl::Ec);
    if (!isValid() || m_AuthorityCertificate.isNull())
        return;

    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslConfiguration::systemCaCertificates() +
                                    QList<QSslCertificate>{m_AuthorityCertificate});
    QSslConfiguration::setDefaultConfiguration(configuration);
}

} // namespace testsupport
