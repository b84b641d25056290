#include "testhttpconnection.h"

#include <QTimer>

namespace testsupport {

namespace {

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

} // namespace

QByteArray TTestHttpRequest::header(const QByteArray& name) const
{
    for (const auto& h : headers)
        if (h.first.compare(name, Qt::CaseInsensitive) == 0)
            return h.second;
    return {};
}

TTestHttpConnection::TTestHttpConnection(QTcpSocket* pSocket, TRouter router, QObject* pParent)
    : QObject(pParent), m_pSocket(pSocket), m_Router(std::move(router))
{
    pSocket->setParent(this);
    connect(pSocket, &QTcpSocket::readyRead, this, &TTestHttpConnection::onReadyRead);
    connect(pSocket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    onReadyRead();
}

void TTestHttpConnection::onReadyRead()
{
    if (!m_pSocket)
        return;
    m_Buffer += m_pSocket->readAll();
    TTestHttpRequest request;
    if (m_bBusy || !takeRequest(request))
        return;
    m_bBusy = true;
    const TTestHttpRoute route = m_Router(request);
    if (route.delayMs > 0)
        QTimer::singleShot(route.delayMs, this, [this, route] { answer(route); });
    else
        answer(route);
}

bool TTestHttpConnection::takeRequest(TTestHttpRequest& request)
{
    const int headerEnd = m_Buffer.indexOf("\r\n\r\n");
    if (headerEnd < 0)
        return false;
    const QList<QByteArray> lines = m_Buffer.left(headerEnd).split('\n');
    const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
    request.method = requestLine.value(0);
    request.path = QString::fromUtf8(requestLine.value(1));
    for (int i = 1; i < lines.size(); ++i) {
        const int colon = lines[i].indexOf(':');
        if (colon > 0)
            request.headers.append(
                {lines[i].left(colon).trimmed(), lines[i].mid(colon + 1).trimmed()});
    }
    const int bodyLength = request.header("Content-Length").toInt();
    if (m_Buffer.size() < headerEnd + 4 + bodyLength)
        return false;
    request.body = m_Buffer.mid(headerEnd + 4, bodyLength);
    m_Buffer.remove(0, headerEnd + 4 + bodyLength);
    return true;
}

void TTestHttpConnection::answer(const TTestHttpRoute& route)
{
    if (!m_pSocket)
        return;
    QByteArray head =
        "HTTP/1.1 " + QByteArray::number(route.status) + ' ' + reasonPhrase(route.status) + "\r\n";
    if (route.streamBytes >= 0)
        head += "Connection: close\r\n"; // the body ends where the connection does
    else
        head += "Content-Length: " + QByteArray::number(route.body.size()) + "\r\n";
    for (const auto& h : route.headers)
        head += h.first + ": " + h.second + "\r\n";
    head += "\r\n";
    m_pSocket->write(head);

    if (route.streamBytes >= 0) {
        startStreaming(route);
        return;
    }
    if (route.stallAfterBytes >= 0) {
        // The connection stays open and silent until the client gives up.
        m_pSocket->write(route.body.left(route.stallAfterBytes));
        return;
    }
    if (route.closeAfterBytes >= 0) {
        m_pSocket->write(route.body.left(route.closeAfterBytes));
        m_pSocket->disconnectFromHost();
        return;
    }
    m_pSocket->write(route.body);
    for (const auto& h : route.headers) {
        if (h.first.compare("Connection", Qt::CaseInsensitive) == 0 &&
            h.second.compare("close", Qt::CaseInsensitive) == 0) {
            m_pSocket->disconnectFromHost();
            return;
        }
    }
    m_bBusy = false;
    // A request may already be waiting behind this one.
    if (!m_Buffer.isEmpty())
        QTimer::singleShot(0, this, &TTestHttpConnection::onReadyRead);
}

void TTestHttpConnection::startStreaming(const TTestHttpRoute& route)
{
    // Blocks of at least 64 KiB keep the loop cheap at full speed.
    const QByteArray unit = route.body.isEmpty() ? QByteArray(1, 'x') : route.body;
    m_StreamBlock = unit.repeated(qMax(1, (64 * 1024) / unit.size()));
    m_StreamLeft = route.streamBytes;
    connect(m_pSocket, &QTcpSocket::bytesWritten, this, &TTestHttpConnection::onStreamWritten);
    onStreamWritten();
}

// Keeps about a megabyte queued, so the client never waits for the server.
void TTestHttpConnection::onStreamWritten()
{
    if (!m_pSocket || m_pSocket->state() != QAbstractSocket::ConnectedState)
        return;
    while (m_StreamLeft > 0 && m_pSocket->bytesToWrite() < 1024 * 1024) {
        const QByteArray block =
            m_StreamBlock.left(int(qMin<qint64>(m_StreamLeft, m_StreamBlock.size())));
        if (m_pSocket->write(block) != block.size())
            return;
        if (m_StreamLeft != TTestHttpRoute::kEndless)
            m_StreamLeft -= block.size();
    }
    if (m_StreamLeft == 0)
        m_pSocket->disconnectFromHost();
}

} // namespace testsupport
