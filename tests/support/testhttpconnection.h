#pragma once

#include "testhttproute.h"

#include <QObject>
#include <QPointer>
#include <QTcpSocket>

#include <functional>

namespace testsupport {

// Serves the HTTP/1.1 requests of one connection, one after the other (keep-alive, no
// pipelining). Deletes itself when the peer goes away.
class TTestHttpConnection : public QObject
{
    Q_OBJECT

public:
    // Records the request and returns the route to answer it with.
    using TRouter = std::function<TTestHttpRoute(const TTestHttpRequest&)>;

    TTestHttpConnection(QTcpSocket* pSocket, TRouter router, QObject* pParent);

private:
    void onReadyRead();
    bool takeRequest(TTestHttpRequest& request);
    void answer(const TTestHttpRoute& route);
    void startStreaming(const TTestHttpRoute& route);
    void onStreamWritten();

    QPointer<QTcpSocket> m_pSocket;
    TRouter m_Router;
    QByteArray m_Buffer;
    bool m_bBusy = false;
    QByteArray m_StreamBlock;
    qint64 m_StreamLeft = 0;
};

} // namespace testsupport
