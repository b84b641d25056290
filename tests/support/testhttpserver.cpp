#include "testhttpserver.h"

#include "testcertificate.h"
#include "testhttpconnection.h"

#include <QSslSocket>

namespace testsupport {

TTestHttpServer::TTestHttpServer(EProtocol protocol, QObject* pParent)
    : QTcpServer(pParent), m_Protocol(protocol)
{}

bool TTestHttpServer::start()
{
    if (m_Protocol == EProtocol::Https && !TTestCertificate::instance().isValid())
        return false;
    return listen(QHostAddress::LocalHost, 0);
}

QUrl TTestHttpServer::url(const QString& path) const
{
    const QString scheme =
        m_Protocol == EProtocol::Https ? QStringLiteral("https") : QStringLiteral("http");
    return QUrl(QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(serverPort()).arg(path));
}

void TTestHttpServer::setRoute(const QString& path, const TTestHttpRoute& route)
{
    m_Routes.insert(path, route);
}

void TTestHttpServer::serve(const QString& path, const QByteArray& body)
{
    TTestHttpRoute route;
    route.body = body;
    setRoute(path, route);
}

int TTestHttpServer::requestCount(const QString& path) const
{
    return m_RequestCounts.value(path);
}

void TTestHttpServer::incomingConnection(qintptr socketDescriptor)
{
    QTcpSocket* pSocket = nullptr;
    if (m_Protocol == EProtocol::Https) {
        auto* pSslSocket = new QSslSocket;
        pSslSocket->setSocketDescriptor(socketDescriptor);
        pSslSocket->setLocalCertificate(TTestCertificate::instance().serverCertificate());
        pSslSocket->setPrivateKey(TTestCertificate::instance().serverKey());
        pSslSocket->startServerEncryption();
        pSocket = pSslSocket;
    } else {
        pSocket = new QTcpSocket;
        pSocket->setSocketDescriptor(socketDescriptor);
    }
    new TTestHttpConnection(
        pSocket, [this](const TTestHttpRequest& request) { return route(request); }, this);
}

TTestHttpRoute TTestHttpServer::route(const TTestHttpRequest& request)
{
    m_Requests.append(request);
    // Like a CDN, a route without a query also answers the same path with any query
    // (cache-busting parameters), and such requests count under the bare path as well.
    const QString bare = request.path.section(QLatin1Char('?'), 0, 0);
    ++m_RequestCounts[request.path];
    if (bare != request.path)
        ++m_RequestCounts[bare];
    emit requestReceived(request.path);

    TTestHttpRoute answer;
    auto it = m_Routes.constFind(request.path);
    if (it == m_Routes.constEnd())
        it = m_Routes.constFind(bare);
    if (it == m_Routes.constEnd()) {
        answer.status = 404;
        return answer;
    }
    answer = it.value();
    if (m_RequestCounts.value(it.key()) <= answer.failFirst) {
        TTestHttpRoute failure;
        failure.status = answer.failStatus;
        return failure;
    }
    if (!answer.redirectTo.isEmpty()) {
        if (answer.status < 300 || answer.status > 399)
            answer.status = 302;
        answer.headers.append({"Location", answer.redirectTo.toUtf8()});
        // Qt 5.15 sometimes sends the original request a second time, on a new connection,
        // when a redirect arrives on a kept-alive one; closing keeps request counts exact.
        answer.headers.append(qMakePair(QByteArray("Connection"), QByteArray("close")));
    }
    return answer;
}

} // namespace testsupport
