// The JSON upload against the local test server: the request on the wire and how each kind of
// answer is judged.
#include "gzipbomb.h"
#include "memorypeak.h"
#include "shared/jsonupload/jsondocumenthttppostsender.h"
#include "shared/jsonupload/jsondocumentuploaderbase.h"
#include "testhttpserver.h"

#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

#include <memory>

using shared::TJsonDocumentHttpPostSender;
using shared::TJsonDocumentUploaderBase;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 15000;

std::unique_ptr<TJsonDocumentUploaderBase> makeUploader()
{
    auto sender =
        std::make_shared<TJsonDocumentHttpPostSender>(std::make_shared<QNetworkAccessManager>());
    return std::make_unique<TJsonDocumentUploaderBase>(sender);
}

TTestHttpRoute answer(int status, const QByteArray& body, int delayMs = 0)
{
    TTestHttpRoute route;
    route.status = status;
    route.body = body;
    route.delayMs = delayMs;
    return route;
}

const QJsonDocument kDocument(QJsonObject{{"cpu", "x86-64"}, {"cores", 2}});

} // namespace

class TestJsonDocumentUploaderBase : public QObject
{
    Q_OBJECT

private slots:
    void postsCompactJsonWithFormHeaders();
    void judgesAnswer_data();
    void judgesAnswer();
    void reportsUploadsInOrderOfTheirAnswers();
    void endlessAnswerFailsInLittleMemory();
    void encodedAnswerFailsInLittleMemory_data();
    void encodedAnswerFailsInLittleMemory();
};

// Catches a wrong method, missing or wrong headers, or an indented body the service would not
// expect; and a request that leaves the encoding of the answer to Qt, which asks for gzip and
// inflates it without bound.
void TestJsonDocumentUploaderBase::postsCompactJsonWithFormHeaders()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    server.serve("/survey", "{}");
    auto uploader = makeUploader();
    QSignalSpy finished(uploader.get(), &TJsonDocumentUploaderBase::finished);

    uploader->upload(server.url("/survey"), kDocument);
    QVERIFY(finished.wait(kWaitMs));

    QCOMPARE(server.requests().size(), 1);
    const auto request = server.requests()[0];
    QCOMPARE(request.method, QByteArray("POST"));
    QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
    QCOMPARE(request.header("Content-Disposition"), QByteArray("form-data; name=\"metadata\""));
    QCOMPARE(request.header("Accept-Encoding"), QByteArray("identity"));
    QCOMPARE(request.body, kDocument.toJson(QJsonDocument::Compact));
}

void TestJsonDocumentUploaderBase::judgesAnswer_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("successful");
    QTest::addColumn<QString>("message"); // "*" for any non-empty text
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("documentKept");

    QTest::newRow("HTTP 500 whatever the body")
        << 500 << QByteArray(R"({"errorCode":0})") << false << "*" << 0 << false;
    QTest::newRow("empty object") << 200 << QByteArray("{}") << true << "" << 0 << true;
    QTest::newRow("errorCode 0") << 200 << QByteArray(R"({"errorCode":0,"id":7})") << true << ""
                                 << 0 << true;
    QTest::newRow("errorCode as string")
        << 200 << QByteArray(R"({"errorCode":"5","errorMessage":"ignored"})") << true << "" << 0
        << true;
    QTest::newRow("errorCode as number")
        << 200 << QByteArray(R"({"errorCode":5,"errorMessage":"survey rejected"})") << false
        << "survey rejected" << 5 << true;
    QTest::newRow("not JSON") << 200 << QByteArray("<html>oops</html>") << false << "*" << -100
                              << false;
    QTest::newRow("empty body") << 200 << QByteArray() << false << "*" << -100 << false;
}

// The upload starts with a rejected answer, so a judgement that leaves the previous failure's
// message or code behind is caught as well.
void TestJsonDocumentUploaderBase::judgesAnswer()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, successful);
    QFETCH(QString, message);
    QFETCH(int, code);
    QFETCH(bool, documentKept);
    TTestHttpServer server;
    QVERIFY(server.start());
    server.setRoute("/rejected", answer(200, R"({"errorCode":9,"errorMessage":"earlier"})"));
    server.setRoute("/service", answer(status, body));
    auto uploader = makeUploader();
    QSignalSpy finished(uploader.get(), &TJsonDocumentUploaderBase::finished);
    uploader->upload(server.url("/rejected"), kDocument);
    QVERIFY(finished.wait(kWaitMs));
    QCOMPARE(uploader->getLastErrorCode(), 9);

    uploader->upload(server.url("/service"), kDocument);
    QVERIFY(finished.wait(kWaitMs));

    QCOMPARE(finished.count(), 2);
    QCOMPARE(finished[1][0].toBool(), successful);
    if (message == "*")
        QVERIFY(!uploader->getLastErrorMessage().isEmpty());
    else
        QCOMPARE(uploader->getLastErrorMessage(), message);
    QCOMPARE(uploader->getLastErrorCode(), code);
    const QJsonDocument reply = finished[1][1].value<QJsonDocument>();
    QCOMPARE(reply, documentKept ? QJsonDocument::fromJson(body) : QJsonDocument());
}

// The sender keeps no replies: the answers arrive in the order the server finishes them.
void TestJsonDocumentUploaderBase::reportsUploadsInOrderOfTheirAnswers()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    server.setRoute("/slow", answer(200, R"({"which":"slow"})", 400));
    server.setRoute("/fast", answer(200, R"({"which":"fast"})"));
    auto uploader = makeUploader();
    QSignalSpy finished(uploader.get(), &TJsonDocumentUploaderBase::finished);

    uploader->upload(server.url("/slow"), kDocument);
    uploader->upload(server.url("/fast"), kDocument);
    while (finished.count() < 2)
        QVERIFY(finished.wait(kWaitMs));

    QCOMPARE(finished[0][1].value<QJsonDocument>().object().value("which").toString(),
             QString("fast"));
    QCOMPARE(finished[1][1].value<QJsonDocument>().object().value("which").toString(),
             QString("slow"));
}

// An answer that never ended was collected until the memory ran out, and never reported.
void TestJsonDocumentUploaderBase::endlessAnswerFailsInLittleMemory()
{
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute endless = answer(200, QByteArray(65536, ' '));
    endless.streamBytes = TTestHttpRoute::kEndless;
    server.setRoute("/endless", endless);
    auto uploader = makeUploader();
    QSignalSpy finished(uploader.get(), &TJsonDocumentUploaderBase::finished);
    QVERIFY(testsupport::resetPeakResident());

    uploader->upload(server.url("/endless"), kDocument);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() ||
                                 testsupport::peakResidentKiB() > testsupport::kMemoryCeilingKiB,
                             kWaitMs);
    QVERIFY2(testsupport::peakResidentKiB() < testsupport::kMemoryCeilingKiB,
             qPrintable(QString::number(testsupport::peakResidentKiB())));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY2(uploader->getLastErrorMessage().contains("longer than"),
             qPrintable(uploader->getLastErrorMessage()));
}

void TestJsonDocumentUploaderBase::encodedAnswerFailsInLittleMemory_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<qint64>("inflated"); // of zeros; 0: a small JSON answer
    QTest::addColumn<QString>("reason");
    const QString unasked = "encoded as \"gzip\", which was not asked for";
    QTest::newRow("3 GiB of gzip'ed zeros") << 200 << (qint64(3) << 30) << unasked;
    QTest::newRow("10 GiB of gzip'ed zeros") << 200 << (qint64(10) << 30) << unasked;
    QTest::newRow("small gzip'ed answer") << 200 << qint64(0) << unasked;
    // The failure of the service is the news, whatever its page is encoded in.
    QTest::newRow("gzip'ed error page") << 500 << qint64(0) << "Internal Server Error";
}

// Qt inflated a gzip answer on its own thread, without bound, before the limit saw a byte: ten
// megabytes that inflate to gigabytes of zeros took the launcher until the system killed it.
void TestJsonDocumentUploaderBase::encodedAnswerFailsInLittleMemory()
{
    QFETCH(int, status);
    QFETCH(qint64, inflated);
    QFETCH(QString, reason);
    TTestHttpServer server;
    QVERIFY(server.start());
    TTestHttpRoute route = testsupport::gzipRoute(inflated > 0 ? testsupport::gzipBomb(inflated)
                                                               : testsupport::gzip("{}"));
    route.status = status;
    server.setRoute("/encoded", route);
    auto uploader = makeUploader();
    QSignalSpy finished(uploader.get(), &TJsonDocumentUploaderBase::finished);
    QVERIFY(testsupport::resetPeakResident());

    uploader->upload(server.url("/encoded"), kDocument);
    QTRY_VERIFY_WITH_TIMEOUT(!finished.isEmpty() ||
                                 testsupport::peakResidentKiB() > testsupport::kMemoryCeilingKiB,
                             kWaitMs);
    const qint64 peak = testsupport::peakResidentKiB();
    qInfo("peak %lld KiB", peak);
    QVERIFY2(peak < testsupport::kMemoryCeilingKiB, qPrintable(QString::number(peak)));
    QCOMPARE(finished.count(), 1);
    QCOMPARE(finished[0][0].toBool(), false);
    QVERIFY2(uploader->getLastErrorMessage().contains(reason),
             qPrintable(uploader->getLastErrorMessage()));
}

QTEST_GUILESS_MAIN(TestJsonDocumentUploaderBase)
#include "tst_jsondocumentuploaderbase.moc"
