#pragma once

#include <QStringList>
#include <QTcpServer>
#include <QUrl>

namespace testsupport {

// A forward HTTP proxy on 127.0.0.1, as a desktop's proxy settings would name it. It sends every
// host to the loopback interface, standing in for the network's name service: a test can name
// hosts that only exist behind the proxy, so a request that bypasses it cannot succeed. Plain
// requests ("GET http://host:port/path") are forwarded with the path alone; CONNECT opens a
// tunnel. Runs on the thread that creates it, inside the test's event loop.
class TTestHttpProxy : public QTcpServer
{
    Q_OBJECT

public:
    explicit TTestHttpProxy(QObject* pParent = nullptr);

    // Listens on 127.0.0.1 and an ephemeral port.
    bool start();
    // "http://127.0.0.1:<port>", the form http_proxy and https_proxy take.
    QString address() const;

    // Requests handed to a server, in order: "GET http://host:port/path" or "CONNECT host:port".
    QStringList forwarded() const { return m_Forwarded; }
    void clearForwarded() { m_Forwarded.clear(); }

signals:
    void requestForwarded(const QString& request);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    QStringList m_Forwarded;
};

} // namespace testsupport
