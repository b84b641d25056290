#include "nginxserver.h"

#include "buildpaths.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

namespace testsupport {

namespace {

const QString kNginx = QStringLiteral("/usr/sbin/nginx");

quint16 freeLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

TNginxServer::TNginxServer(const QString& rootDirectory)
    : m_RootDirectory(QDir(rootDirectory).absolutePath())
{
    m_Process.setProcessChannelMode(QProcess::MergedChannels);
}

TNginxServer::~TNginxServer()
{
    stop();
}

bool TNginxServer::isAvailable()
{
    return QFileInfo(kNginx).isExecutable();
}

bool TNginxServer::start()
{
    stop();
    if (!m_WorkDirectory.isValid()) {
        m_Error = QStringLiteral("no temporary directory");
        return false;
    }
    if (m_Port == 0)
        m_Port = freeLoopbackPort();
    QStringList arguments{m_RootDirectory, m_WorkDirectory.path(), QString::number(m_Port)};
    if (!m_RateLimit.isEmpty())
        arguments << QString::fromUtf8(m_RateLimit);
    m_Process.start(QStringLiteral(KESTRUN_NGINX_SCRIPT), arguments);
    if (!m_Process.waitForStarted(10000)) {
        m_Error = m_Process.errorString();
        return false;
    }
    // nginx says nothing when it is ready: it is ready when its port answers.
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 30000) {
        if (m_Process.state() != QProcess::Running) {
            m_Error = QString::fromUtf8(m_Process.readAll()) +
                      QString::fromUtf8(readBytes(m_WorkDirectory.filePath("error.log")));
            return false;
        }
        if (accepts(m_Port))
            return true;
        QThread::msleep(20);
    }
    m_Error = QStringLiteral("nginx did not listen on port %1").arg(m_Port);
    return false;
}

void TNginxServer::stop()
{
    if (m_Process.state() == QProcess::NotRunning)
        return;
    m_Process.terminate();
    if (!m_Process.waitForFinished(10000)) {
        m_Process.kill();
        m_Process.waitForFinished(10000);
    }
}

QUrl TNginxServer::url(const QString& path) const
{
    return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(m_Port).arg(path));
}

QList<TAccessLogEntry> TNginxServer::accessLog() const
{
    QList<TAccessLogEntry> entries;
    const QByteArray log = readBytes(m_WorkDirectory.filePath(QStringLiteral("access.log")));
    for (const QByteArray& line : log.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() != 4)
            continue;
        entries.append({QString::fromUtf8(fields[0]), fields[1].toInt(), fields[2].toLongLong(),
                        fields[3].toLongLong()});
    }
    return entries;
}

void TNginxServer::clearAccessLog()
{
    QFile(m_WorkDirectory.filePath(QStringLiteral("access.log"))).resize(0);
}

} // namespace testsupport
