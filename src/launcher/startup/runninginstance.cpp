#include "launcher/startup/runninginstance.h"

#include "launcher/logging/logging.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QLocalServer>
#include <QLocalSocket>

#include <sys/socket.h>
#include <unistd.h>

namespace orvik::launcher {

namespace {

// A command line is a few hundred bytes; a peer that sends more is not a launcher.
constexpr qint64 kMessageLimit = 64 * 1024;

// The user of the process at the other end of a connected socket; -1 when the system does not
// tell.
qint64 peerUser(const QLocalSocket& Socket)
{
    struct ucred credentials = {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(int(Socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &credentials,
                     &length) != 0)
        return -1;
    return credentials.uid;
}

bool isOwnUser(qint64 User)
{
    return User == qint64(::geteuid());
}

} // namespace

TRunningInstance::TRunningInstance(const QString& Folder, THandler Handler, QObject* pParent)
    : QObject(pParent), m_Folder(Folder), m_Handler(std::move(Handler))
{}

QString TRunningInstance::doorPath(const QString& Folder)
{
    return Folder + QStringLiteral("/door");
}

bool TRunningInstance::listen()
{
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    const QString path = doorPath(m_Folder);
    // Only the guard's holder gets here, so a socket in its folder is a killed launcher's.
    QLocalServer::removeServer(path);
    if (!m_pServer->listen(path)) {
        qWarning() << "Later starts cannot reach this launcher: its door" << path
                   << "cannot be opened:" << m_pServer->errorString() << threadSuffix;
        return false;
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &TRunningInstance::onNewConnection);
    return true;
}

void TRunningInstance::onNewConnection()
{
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        // The folder keeps others out; should it ever fail to, their command lines still are not
        // this player's.
        if (const qint64 user = peerUser(*socket); !isOwnUser(user)) {
            qWarning() << "A connection to the door from user" << user << "was refused"
                       << threadSuffix;
            socket->abort();
            socket->deleteLater();
            continue;
        }
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

TRunningInstance::THandOver TRunningInstance::handOver(const QString& Folder,
                                                       const QStringList& Arguments, int TimeoutMs)
{
    QLocalSocket socket;
    socket.connectToServer(doorPath(Folder));
    if (!socket.waitForConnected(TimeoutMs))
        return {{}, socket.errorString()};
    // Only the player's own launcher may say what became of the player's command line.
    if (const qint64 user = peerUser(socket); !isOwnUser(user))
        return {{}, tr("user %1 answered in its place").arg(user)};
    socket.write(
        QJsonDocument(QJsonArray::fromStringList(Arguments)).toJson(QJsonDocument::Compact) + '\n');
    if (!socket.waitForBytesWritten(TimeoutMs))
        return {{}, socket.errorString()};
    while (!socket.canReadLine()) {
        if (!socket.waitForReadyRead(TimeoutMs))
            return {{}, socket.errorString()};
    }
    return {QString::fromUtf8(socket.readLine(kMessageLimit)).trimmed(), {}};
}

} // namespace orvik::launcher
