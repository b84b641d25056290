#pragma once

#include "testhttproute.h"

#include <QHash>
#include <QList>
#include <QTcpServer>
#include <QUrl>

namespace testsupport {

// A small HTTP/1.1 server on 127.0.0.1 for tests, plain or TLS, on an ephemeral port. It serves
// bytes by path, answers unknown paths with 404, records every request and injects the faults
// described by TTestHttpRoute. Runs on the thread that creates it, inside the test's event loop.
class TTestHttpServer : public QTcpServer
{
    Q_OBJECT

public:
    enum class EProtocol { Http, Https };

    // An Https server makes the process trust the test certificate authority (see
    // testcertificate.h).
    explicit TTestHttpServer(EProtocol protocol = EProtocol::Http, QObject* pParent = nullptr);

    // Listens on 127.0.0.1 and an ephemeral port; false when that or the certificate fails.
    bool start();

    // "http://127.0.0.1:<port><path>" (or https).
    QUrl url(const QString& path) const;

    void setRoute(const QString& path, const TTestHttpRoute& route);
    void serve(const QString& path, const QByteArray& body);

    QList<TTestHttpRequest> requests() const { return m_Requests; }
    // Requests for the path; for a path without query, those with any query count too.
    int requestCount(const QString& path) const;

signals:
    void requestReceived(const QString& path);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    TTestHttpRoute route(const TTestHttpRequest& request);

    EProtocol m_Protocol;
    QHash<QString, TTestHttpRoute> m_Routes;
    QHash<QString, int> m_RequestCounts;
    QList<TTestHttpRequest> m_Requests;
};

} // namespace testsupport
