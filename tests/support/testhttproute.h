#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <limits>

namespace testsupport {

// What the test server answers for one path, and the faults it injects there.
struct TTestHttpRoute
{
    int status = 200;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;
    // Wait this long before answering at all.
    int delayMs = 0;
    // Send the headers and this many body bytes, then keep the connection open without sending
    // more. Negative: off.
    qint64 stallAfterBytes = -1;
    // Send the headers and this many body bytes, then close the connection. Negative: off.
    qint64 closeAfterBytes = -1;
    // Send no Content-Length but this many bytes, the body over and over (at least one byte),
    // as fast as the client takes them, then close. kEndless: until the client goes away.
    // Negative: off.
    static constexpr qint64 kEndless = std::numeric_limits<qint64>::max();
    qint64 streamBytes = -1;
    // A path on this server or an absolute URL; answered with status 302 unless status is 3xx.
    QString redirectTo;
    // The first failFirst requests for this path get failStatus and an empty body.
    int failFirst = 0;
    int failStatus = 503;
};

// One request as the server received it.
struct TTestHttpRequest
{
    QByteArray method;
    QString path;
    QList<QPair<QByteArray, QByteArray>> headers;
    QByteArray body;

    // The value of a header, matched without regard to case; empty when absent.
    QByteArray header(const QByteArray& name) const;
};

} // namespace testsupport
