#include "testhttpproxy.h"

#include <QPointer>
#include <QTcpSocket>

#include <functional>

namespace testsupport {

namespace {

// One client connection and the server connection its requests go to. Requests arrive one after
// the other (keep-alive, no pipelining); answers flow back unchanged. Deletes itself when either
// side goes away.
class TProxyConnection : public QObject
{
public:
    using TRecorder = std::function<void(const QString&)>;

    TProxyConnection(QTcpSocket* pClient, TRecorder recorder, QObject* pParent)
        : QObject(pParent), m_pClient(pClient), m_Recorder(std::move(recorder))
    {
        pClient->setParent(this);
        connect(pClient, &QTcpSocket::readyRead, this, [this] { onClientReadyRead(); });
        connect(pClient, &QTcpSocket::disconnected, this, [this] { close(); });
    }

private:
    void onClientReadyRead()
    {
        m_Buffer += m_pClient->readAll();
        if (m_bTunnel) {
            // Until the server took the tunnel, the bytes wait here.
            if (m_pServer && m_pServer->state() == QAbstractSocket::ConnectedState) {
                m_pServer->write(m_Buffer);
                m_Buffer.clear();
            }
            return;
        }
        while (!m_bTunnel && forwardOneRequest()) {
        }
    }

    // Takes one complete request from the buffer and sends it on; false when none is complete.
    bool forwardOneRequest()
    {
        const int headEnd = m_Buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return false;
        const QList<QByteArray> lines = m_Buffer.left(headEnd).split('\n');
        const QList<QByteArray> requestLine = lines.first().trimmed().split(' ');
        if (requestLine.size() != 3) {
            refuse("400 Bad Request");
            return false;
        }
        QByteArray headers;
        qint64 bodySize = 0;
        for (int i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const int colon = line.indexOf(':');
            const QByteArray name = line.left(colon).trimmed().toLower();
            if (name == "content-length")
                bodySize = line.mid(colon + 1).trimmed().toLongLong();
            if (!name.startsWith("proxy-"))
                headers += line + "\r\n";
        }
        if (m_Buffer.size() < headEnd + 4 + bodySize)
            return false;
        const QByteArray body = m_Buffer.mid(headEnd + 4, int(bodySize));
        m_Buffer.remove(0, headEnd + 4 + int(bodySize));

        const QByteArray method = requestLine.at(0);
        if (method == "CONNECT") {
            const QByteArray authority = requestLine.at(1);
            const int port = authority.mid(authority.lastIndexOf(':') + 1).toInt();
            m_bTunnel = true;
            connectToServer(port, QStringLiteral("CONNECT ") + QString::fromLatin1(authority),
                            "HTTP/1.1 200 Connection established\r\n\r\n");
            return false;
        }
        const QUrl url(QString::fromLatin1(requestLine.at(1)));
        if (!url.isValid() || url.scheme() != QLatin1String("http")) {
            refuse("400 Bad Request");
            return false;
        }
        const QByteArray path =
            url.path(QUrl::FullyEncoded).toLatin1() +
            (url.hasQuery() ? "?" + url.query(QUrl::FullyEncoded).toLatin1() : QByteArray());
        const QByteArray forwarded = method + ' ' + (path.isEmpty() ? "/" : path) + ' ' +
                                     requestLine.at(2) + "\r\n" + headers + "\r\n" + body;
        connectToServer(url.port(80), QString::fromLatin1(method + ' ' + requestLine.at(1)), {});
        m_pServer->write(forwarded);
        return true;
    }

    // Requests are recorded once the server took the connection: a refused one forwarded nothing.
    void connectToServer(int port, const QString& request, const QByteArray& answerWhenConnected)
    {
        if (m_pServer && m_ServerPort != port) {
            m_pServer->disconnect(this);
            m_pServer->abort();
            m_pServer->deleteLater();
            m_pServer = nullptr;
        }
        if (m_pServer && m_pServer->state() == QAbstractSocket::ConnectedState) {
            m_Recorder(request);
            return;
        }
        m_PendingRequests << request;
        if (m_pServer)
            return;
        m_ServerPort = port;
        m_pServer = new QTcpSocket(this);
        connect(m_pServer, &QTcpSocket::connected, this, [this, answerWhenConnected] {
            for (const QString& pending : qAsConst(m_PendingRequests))
                m_Recorder(pending);
            m_PendingRequests.clear();
            if (!answerWhenConnected.isEmpty())
                m_pClient->write(answerWhenConnected);
            if (m_bTunnel && !m_Buffer.isEmpty()) {
                m_pServer->write(m_Buffer);
                m_Buffer.clear();
            }
        });
        connect(m_pServer, &QTcpSocket::readyRead, this,
                [this] { m_pClient->write(m_pServer->readAll()); });
        connect(m_pServer, &QTcpSocket::disconnected, this, [this] { close(); });
        connect(m_pServer, &QTcpSocket::errorOccurred, this, [this] {
            if (!m_PendingRequests.isEmpty())
                refuse("502 Bad Gateway");
        });
        m_pServer->connectToHost(QHostAddress::LocalHost, quint16(port));
    }

    void refuse(const QByteArray& status)
    {
        m_PendingRequests.clear();
        m_pClient->write("HTTP/1.1 " + status +
                         "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        close();
    }

    // The client learns of the end by its connection closing, after what was already answered.
    void close()
    {
        if (m_bClosing)
            return;
        m_bClosing = true;
        if (m_pServer && m_pServer->bytesAvailable() > 0)
            m_pClient->write(m_pServer->readAll());
        if (m_pServer)
            m_pServer->disconnectFromHost();
        m_pClient->disconnectFromHost();
        deleteLater();
    }

    QPointer<QTcpSocket> m_pClient;
    QPointer<QTcpSocket> m_pServer;
    TRecorder m_Recorder;
    QByteArray m_Buffer;
    QStringList m_PendingRequests;
    int m_ServerPort = 0;
    bool m_bTunnel = false;
    bool m_bClosing = false;
};

} // namespace

TTestHttpProxy::TTestHttpProxy(QObject* pParent) : QTcpServer(pParent) {}

bool TTestHttpProxy::start()
{
    return listen(QHostAddress::LocalHost, 0);
}

QString TTestHttpProxy::address() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(serverPort());
}

void TTestHttpProxy::incomingConnection(qintptr socketDescriptor)
{
    auto* pSocket = new QTcpSocket;
    if (!pSocket->setSocketDescriptor(socketDescriptor)) {
        delete pSocket;
        return;
    }
    new TProxyConnection(
        pSocket,
        [this](const QString& request) {
            m_Forwarded << request;
            emit requestForwarded(request);
        },
        this);
}

} // namespace testsupport
