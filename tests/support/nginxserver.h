#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

namespace testsupport {

// One request as nginx logged it.
struct TAccessLogEntry
{
    QString path;
    int status = 0;
    qint64 bytesSent = 0;
    // nginx's serial number of the connection that carried it.
    qint64 connection = 0;
};

// Debian's nginx serving a directory on a free loopback port through scripts/serve-nginx.sh, its
// configuration and logs in a temporary directory of its own. Stopped when the object goes. The
// install benchmark uses it too.
class TNginxServer
{
public:
    explicit TNginxServer(const QString& rootDirectory);
    ~TNginxServer();

    static bool isAvailable();

    // Limits every response to this rate (nginx syntax, such as "2m"); applies from the next start.
    void setRateLimit(const QByteArray& rate) { m_RateLimit = rate; }
    // Starts, or restarts on the same port; false (with the reason in error()) when nginx does
    // not come up.
    bool start();
    void stop();
    const QString& error() const { return m_Error; }

    QUrl url(const QString& path) const;
    QList<TAccessLogEntry> accessLog() const;
    void clearAccessLog();

    quint16 port() const { return m_Port; }

private:
    QString m_RootDirectory;
    QTemporaryDir m_WorkDirectory;
    QProcess m_Process;
    quint16 m_Port = 0;
    QByteArray m_RateLimit;
    QString m_Error;
};

} // namespace testsupport
