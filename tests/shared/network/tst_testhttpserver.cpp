// The local test server is what every network test leans on: if it served the wrong bytes or
// injected the wrong fault, those tests would pass or fail for the wrong reasons.
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 15000;

struct TFetched
{
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    qint64 bytesSeen = 0;
};

TFetched fetch(QNetworkAccessManager& manager, QNetworkRequest request,
               const QByteArray& postBody = QByteArray())
{
    std::unique_ptr<QNetworkReply> reply(postBody.isNull() ? manager.get(request)
                                                           : manager.post(request, postBody));
    TFetched fetched;
    QObject::connect(reply.get(), &QNetworkReply::readyRead,
                     [&] { fetched.body += reply->readAll(); });
    QSignalSpy finished(reply.get(), &QNetworkReply::finished);
    if (!finished.wait(kWaitMs))
        qWarning() << "reply did not finish";
    if (reply->isOpen())
        fetched.body += reply->readAll();
    fetched.error = reply->error();
    fetched.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    fetched.bytesSeen = fetched.body.size();
    return fetched;
}

} // namespace

class TestHttpServer : public QObject
{
    Q_OBJECT

private slots:
    void servesBodyAndRecordsRequests();
    void answersWithConfiguredStatus_data();
    void answersWithConfiguredStatus();
    void delaysAnswer();
    void stallsMidBodyWithoutClosing();
    void closesMidBody();
    void redirectsToAnotherPath();
    void failsFirstRequests();
    void speaksTls();
};

// Catches a parser that loses the body or headers of a POST, or a server that answers one
// request per connection only (the second GET reuses the kept-alive connection).
void TestHttpServer::servesBodyAndRecordsRequests()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    server.serve("/a", "alpha");
    server.serve("/upload", "ok");
    QNetworkAccessManager manager;

    QCOMPARE(fetch(manager, QNetworkRequest(server.url("/a"))).body, QByteArray("alpha"));
    QNetworkRequest post(server.url("/upload"));
    post.setRawHeader("X-Probe", "42");
    post.setHeader(QNetworkRequest::ContentTypeHeader, "text/plain");
    const TFetched posted = fetch(manager, post, "payload bytes");
    QCOMPARE(posted.body, QByteArray("ok"));
    QCOMPARE(fetch(manager, QNetworkRequest(server.url("/a"))).body, QByteArray("alpha"));

    const auto requests = server.requests();
    QCOMPARE(requests.size(), 3);
    QCOMPARE(requests[1].method, QByteArray("POST"));
    QCOMPARE(requests[1].path, QString("/upload"));
    QCOMPARE(requests[1].header("x-probe"), QByteArray("42"));
    QCOMPARE(requests[1].body, QByteArray("payload bytes"));
    QCOMPARE(server.requestCount("/a"), 2);
}

void TestHttpServer::answersWithConfiguredStatus_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("status");
    QTest::addColumn<QNetworkReply::NetworkError>("error");
    QTest::newRow("unknown path") << "/missing" << 0 << QNetworkReply::ContentNotFoundError;
    QTest::newRow("500") << "/p" << 500 << QNetworkReply::InternalServerError;
    QTest::newRow("503") << "/p" << 503 << QNetworkReply::ServiceUnavailableError;
    QTest::newRow("200") << "/p" << 200 << QNetworkReply::NoError;
}

void TestHttpServer::answersWithConfiguredStatus()
{
    QFETCH(QString, path);
    QFETCH(int, status);
    QFETCH(QNetworkReply::NetworkError, error);
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.status = status;
    route.body = "body";
    if (status != 0)
        server.setRoute("/p", route);
    QNetworkAccessManager manager;

    const TFetched fetched = fetch(manager, QNetworkRequest(server.url(path)));
    QCOMPARE(fetched.error, error);
    QCOMPARE(fetched.status, status == 0 ? 404 : status);
}

// Catches a delay that is ignored, which would make time-out tests pass vacuously.
void TestHttpServer::delaysAnswer()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.body = "late";
    route.delayMs = 400;
    server.setRoute("/slow", route);
    QNetworkAccessManager manager;

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(fetch(manager, QNetworkRequest(server.url("/slow"))).body, QByteArray("late"));
    QVERIFY(timer.elapsed() >= 400);
}

// A stall must keep the connection open: closing it would turn the stall into a different fault
// and hide a missing time-out. Only the client's time-out ends this request.
void TestHttpServer::stallsMidBodyWithoutClosing()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.body = QByteArray(1000, 'x');
    route.stallAfterBytes = 100;
    server.setRoute("/stall", route);
    QNetworkAccessManager manager;

    QNetworkRequest request(server.url("/stall"));
    request.setTransferTimeout(500);
    const TFetched fetched = fetch(manager, request);
    QCOMPARE(fetched.error, QNetworkReply::OperationCanceledError);
    QCOMPARE(fetched.bytesSeen, qint64(100));
}

void TestHttpServer::closesMidBody()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.body = QByteArray(1000, 'x');
    route.closeAfterBytes = 100;
    server.setRoute("/cut", route);
    QNetworkAccessManager manager;

    const TFetched fetched = fetch(manager, QNetworkRequest(server.url("/cut")));
    QCOMPARE(fetched.error, QNetworkReply::RemoteHostClosedError);
    QCOMPARE(fetched.bytesSeen, qint64(100));
}

void TestHttpServer::redirectsToAnotherPath()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.redirectTo = "/new";
    server.setRoute("/old", route);
    server.serve("/new", "moved here");
    QNetworkAccessManager manager;
    manager.setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);

    QCOMPARE(fetch(manager, QNetworkRequest(server.url("/old"))).body, QByteArray("moved here"));
    QCOMPARE(server.requestCount("/old"), 1);
    QCOMPARE(server.requestCount("/new"), 1);
}

// Catches a counter that is shared between paths or never stops failing.
void TestHttpServer::failsFirstRequests()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route;
    route.body = "finally";
    route.failFirst = 2;
    server.setRoute("/flaky", route);
    server.serve("/steady", "steady");
    QNetworkAccessManager manager;

    QCOMPARE(fetch(manager, QNetworkRequest(server.url("/steady"))).error, QNetworkReply::NoError);
    for (int i = 0; i < 2; ++i)
        QCOMPARE(fetch(manager, QNetworkRequest(server.url("/flaky"))).status, 503);
    const TFetched third = fetch(manager, QNetworkRequest(server.url("/flaky")));
    QCOMPARE(third.status, 200);
    QCOMPARE(third.body, QByteArray("finally"));
}

// Without the test authority in the default configuration Qt would refuse the certificate.
void TestHttpServer::speaksTls()
{
    TTestHttpServer server(TTestHttpServer::EProtocol::Https);
    QVERIFY(server.start());
    server.serve("/secret", "over tls");
    QNetworkAccessManager manager;

    const TFetched fetched = fetch(manager, QNetworkRequest(server.url("/secret")));
    QCOMPARE(fetched.error, QNetworkReply::NoError);
    QCOMPARE(fetched.body, QByteArray("over tls"));
}

QTEST_GUILESS_MAIN(TestHttpServer)
#include "tst_testhttpserver.moc"
