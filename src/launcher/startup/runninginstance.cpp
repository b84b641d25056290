#include "launcher/startup/runninginstance.h"

#include "launcher/logging/logging.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <unistd.h>

namespace orvik::launcher {

namespace {

// A command line is a few hundred bytes; a peer that sends more is not a launcher.
constexpr qint64 kMessageLimit = 64 * 1024;

} // namespace

TRunningInstance::TRunningInstance(const QString& Key, THandler Handler, QObject* pParent)
    : QObject(pParent), m_Key(Key), m_Handler(std::move(Handler))
{}

QString TRunningInstance::socketName(const QString& Key)
{
    // One door per user: another user's launcher is not this player's.
    const QByteArray digest =
        QCryptographicHash::hash(Key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    return QStringLiteral("kestrun-launcher-%1-%2")
        .arg(::getuid())
        .arg(QString::fromLatin1(digest));
}

bool TRunningInstance::listen()
{
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = socketName(m_Key);
    // Only the guard's holder gets here, so a socket of that name is a killed launcher's.
    QLocalServer::removeServer(name);
    if (!m_pServer->listen(name)) {
        qWarning() << "Later starts cannot reach this launcher:" << m_pServer->errorString()
                   << threadSuffix;
        return false;
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &TRunningInstance::onNewConnection);
    return true;
}

void TRunningInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) {
                if (socket->bytesAvailable() > kMessageLimit)
                    socket->abort();
                return;
            }
            const QJsonArray arguments =
                QJsonDocument::fromJson(socket->readLine(kMessageLimit)).array();
            QStringList list;
            for (const auto& argument : arguments)
                list << argument.toString();
            QString answer;
            try {
                answer = m_Handler(list);
            } catch (const std::exception& error) {
                answer = QStringLiteral("refused %1").arg(QString::fromUtf8(error.what()));
            }
            socket->write(answer.toUtf8() + '\n');
            socket->disconnectFromServer();
        });
    }
}

QString TRunningInstance::handOver(const QString& Key, const QStringList& Arguments, int TimeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(socketName(Key));
    if (!socket.waitForConnected(TimeoutMs))
        return {};
    socket.write(
        QJsonDocument(QJsonArray::fromStringList(Arguments)).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(TimeoutMs))
        return {};
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(TimeoutMs))
            return {};
    }
    return QString::fromUtf8(socket.readLine(kMessageLimit)).trimmed();
}

} // namespace orvik::launcher
