#include "nginxserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QThread>

namespace installbench {

namespace {

const char kNginx[] = "/usr/sbin/nginx";

// Another process may take the port before nginx binds it; nginx then fails and says so.
quint16 freeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QByteArray configuration(const QString& root, const QString& work, quint16 port)
{
    const QByteArray w = QDir(work).absolutePath().toUtf8();
    return "worker_processes 1;\n"
           "daemon off;\n"
           "pid " +
           w +
           "/nginx.pid;\n"
           "error_log " +
           w +
           "/error.log warn;\n"
           "events { worker_connections 256; }\n"
           "http {\n"
           "    access_log " +
           w +
           "/access.log;\n"
           "    client_body_temp_path " +
           w +
           "/client_body;\n"
           "    proxy_temp_path " +
           w +
           "/proxy;\n"
           "    default_type application/octet-stream;\n"
           "    sendfile on;\n"
           "    tcp_nopush on;\n"
           "    keepalive_requests 100000;\n"
           "    server {\n"
           "        listen 127.0.0.1:" +
           QByteArray::number(port) +
           ";\n"
           "        root " +
           QDir(root).absolutePath().toUtf8() +
           ";\n"
           "    }\n"
           "}\n";
}

bool answers(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

bool TNginxServer::start(const QString& Root, const QString& WorkDirectory)
{
    QTextStream err(stderr);
    m_Port = freeLoopbackPort();
    const QString config = QDir(WorkDirectory).filePath(QStringLiteral("nginx.conf"));
    QFile file(config);
    if (m_Port == 0 || !file.open(QIODevice::WriteOnly) ||
        file.write(configuration(Root, WorkDirectory, m_Port)) < 0) {
        err << "cannot prepare nginx in " << WorkDirectory << "\n";
        return false;
    }
    file.close();
    m_Process.setProcessChannelMode(QProcess::ForwardedChannels);
    m_Process.start(QString::fromLatin1(kNginx),
                    {QStringLiteral("-p"), WorkDirectory, QStringLiteral("-c"), config,
                     QStringLiteral("-e"),
                     QDir(WorkDirectory).filePath(QStringLiteral("error.log"))});
    if (!m_Process.waitForStarted(5000)) {
        err << "cannot start " << kNginx << ": " << m_Process.errorString() << "\n";
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 10000) {
        if (m_Process.state() != QProcess::Running) {
            err << "nginx ended at once; see " << WorkDirectory << "/error.log\n";
            return false;
        }
        if (answers(m_Port))
            return true;
        QThread::msleep(50);
    }
    err << "nginx does not answer on port " << m_Port << "\n";
    stop();
    return false;
}

void TNginxServer::stop()
{
    if (m_Process.state() == QProcess::NotRunning)
        return;
    // SIGTERM: nginx's fast shutdown, which also ends its worker.
    m_Process.terminate();
    if (!m_Process.waitForFinished(5000)) {
        m_Process.kill();
        m_Process.waitForFinished(5000);
    }
}

} // namespace installbench
