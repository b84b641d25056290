#include "launcher/cdntrace/cloudflarecdntrace.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "memorypeak.h"
#include "testhttpserver.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using namespace orvik::launcher;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 30000;

std::shared_ptr<shared::TDownloadPool> makePool()
{
    return std::make_shared<shared::TDownloadPool>(
        6,
        std::make_shared<shared::QNetworkAccessManagerWrapper>(
            std::make_shared<QNetworkAccessManager>()),
        true);
}

} // namespace

class TestCloudflareCdnTrace : public QObject
{
    Q_OBJECT

private slots:
    void emptyAddressFailsAtOnce()
    {
        TCloudflareCdnTrace trace(QUrl(), makePool());
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        trace.requestTrace();
        QCOMPARE(received.count(), 1);
        QCOMPARE(received.first().at(0).toBool(), true);
        QVERIFY(trace.hasFailed());
        QVERIFY(!trace.isRequested());
        trace.requestTrace(); // a failed trace is not tried again
        QCOMPARE(received.count(), 1);
    }

    void bodyGivesTheFourValues_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<QStringList>("values");
        QTest::newRow("among other keys, any order, CRLF, IP in capitals")
            << QByteArray("visit_scheme=https\r\nts=1765100000.123\r\nuag=Qt\r\nIP=203.0.113.9\r\n"
                          "colo=FRA\r\nhttp=http/1.1\r\nfl=29f104\r\n")
            << QStringList{"29f104", "1765100000.123", "FRA", "203.0.113.9"};
        QTest::newRow("later line wins, blank before = is another key")
            << QByteArray("fl=1\nfl=2\nts =x\nts=3\ncolo=a=b\ncolo=TXL\nip=  ::1  \n")
            << QStringList{"2", "3", "TXL", "::1"};
        QTest::newRow("none of the keys")
            << QByteArray("<html>not a trace</html>") << QStringList{"", "", "", ""};
    }
    void bodyGivesTheFourValues()
    {
        QFETCH(QByteArray, body);
        QFETCH(QStringList, values);
        TTestHttpServer server;
        QVERIFY(server.start());
        server.serve("/cdn-cgi/trace", body);
        auto pool = makePool();
        TCloudflareCdnTrace trace(server.url("/cdn-cgi/trace"), pool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        trace.requestTrace();
        QVERIFY(received.wait(kWaitMs));
        QCOMPARE(received.first().at(0).toBool(), false);
        QVERIFY(trace.hasSucceeded());
        QCOMPARE((QStringList{trace.getFl(), trace.getTs(), trace.getColo(), trace.getIp()}),
                 values);
    }

    void fetchedOnceWhileOthersUseThePool()
    {
        TTestHttpServer server;
        QVERIFY(server.start());
        TTestHttpRoute slow;
        slow.body = "fl=1\nts=2\ncolo=3\nip=4\n";
        slow.delayMs = 300;
        server.setRoute("/cdn-cgi/trace", slow);
        server.serve("/other", "fl=other\n");
        auto pool = makePool();
        TCloudflareCdnTrace trace(server.url("/cdn-cgi/trace"), pool);
        QSignalSpy received(&trace, &TCloudflareCdnTrace::diagnosticsTraceReceived);
        // An answer for another address of the shared pool is not the trace.
        QSignalSpy other(pool.get(), &shared::TDownloadPool::success);
        pool->queueDownload(server.url("/other"));
        QVERIFY(other.wait(kWaitMs));
        QCOMPARE(received.count(), 0);

        trace.requestTrace();
        trace.requestTrace(); // while the first runs
        QVERIFY(trace.isRequested());
        QVERIFY(received.wait(kWaitMs));
        trace.requestTrace(); // after it succeeded
        QVERIFY(!trace.isRequested());
        QCOMPARE(server.requestCount("/cdn-cgi/trace"), 1);
        QCOMPARE(received.count(), 1);
        QCOMPARE(trace.getFl(), QString("1"));
    }

    void endlessTraceFailsInLittleMemory()
    {
        // The trace was read to its end, however long: an endless one filled the memory while
        // the player looked at the failed download.
        TTestHttpServer server;
        QVERIFY(server.start());
        TTestHttpRoute endless;
        endless.body = "fl=1\nts=2\n" + QByteArray(65536, 'x');
        endless.streamBytes = TTestHttpRoute::kEndless;
        server.setRoute("/cdn-cgi/trace", endless);
        TCloudflareCdnTrace trace(server.url("/cdn-cgi/trace"), makePool());
        QVERIFY(testsupport::resetPeakResident());
        trace.requestTrace();
        QTRY_VERIFY_WITH_TIMEOUT(trace.hasFailed() || trace.hasSucceeded() ||
                                     testsupport::peakResidentKiB() >
                                         testsupport::kMemoryCeilingKiB,
                                 kWaitMs);
        QVERIFY2(testsupport::peakResidentKiB() < testsupport::kMemoryCeilingKiB,
                 qPrintable(QString::number(testsupport::peakResidentKiB())));
        QVERIFY(trace.hasFailed());
    }
};

QTEST_GUILESS_MAIN(TestCloudflareCdnTrace)
#include "tst_cloudflarecdntrace.moc"
