#include "shared/network/downloadpool.h"
#include "shared/network/mirrorset.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "messagecapture.h"
#include "testhttpserver.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using shared::TDownloadPool;
using shared::TMirrorSet;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 30000;

// A loopback port nothing listens on: connections to it are refused.
QUrl refusingFolder()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QString("http://127.0.0.1:%1/tree/launcher/").arg(port));
}

} // namespace

class TestMirrorSet : public QObject
{
    Q_OBJECT

private slots:
    void addressesMapOntoEachMirrorsTree_data()
    {
        QTest::addColumn<QString>("primary");
        QTest::addColumn<QString>("mirror");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("onMirror");
        QTest::newRow("same layout") << "https://a.test/launcher/"
                                     << "https://b.test/launcher/"
                                     << "https://a.test/live/data/x"
                                     << "https://b.test/live/data/x";
        QTest::newRow("deeper on the mirror") << "https://a.test/launcher/"
                                              << "https://b.test/cdn/game/launcher"
                                              << "https://a.test/live/p.json"
                                              << "https://b.test/cdn/game/live/p.json";
        QTest::newRow("deeper on the primary") << "https://a.test/x/game/launcher/"
                                               << "https://b.test/game/launcher/"
                                               << "https://a.test/x/game/live/p.json"
                                               << "https://b.test/game/live/p.json";
        // A segment that only ends alike is not a common folder.
        QTest::newRow("segments compared whole") << "https://a.test/mylauncher/"
                                                 << "https://b.test/launcher/"
                                                 << "https://a.test/live/p.json"
                                                 << "https://a.test/live/p.json";
        QTest::newRow("other host untouched") << "https://a.test/launcher/"
                                              << "https://b.test/launcher/"
                                              << "https://c.test/launcher/x"
                                              << "https://c.test/launcher/x";
        QTest::newRow("not a web address") << "https://a.test/launcher/"
                                           << "file:///etc/launcher/"
                                           << "https://a.test/live/p.json"
                                           << "https://a.test/live/p.json";
        QTest::newRow("query kept") << "https://a.test/launcher/"
                                    << "https://b.test/launcher/"
                                    << "https://a.test/live/x?v=2"
                                    << "https://b.test/live/x?v=2";
    }
    void addressesMapOntoEachMirrorsTree()
    {
        QFETCH(QString, primary);
        QFETCH(QString, mirror);
        QFETCH(QString, address);
        QFETCH(QString, onMirror);
        const TMirrorSet mirrors(QUrl(primary), {QUrl(mirror)});
        const int last = mirrors.size() - 1;
        QCOMPARE(mirrors.onBase(QUrl(address), last).toString(), onMirror);
        QCOMPARE(mirrors.onBase(QUrl(address), 0).toString(), address);
    }

    // Turns spread the bodies; a base that keeps failing is passed over until its time is up.
    void failingBaseIsSetAsideForAWhile()
    {
        TMirrorSet mirrors(QUrl("https://a.test/l/"), {QUrl("https://b.test/l/")});
        QCOMPARE(mirrors.chooseBase(-1, 0), 0);
        QCOMPARE(mirrors.chooseBase(-1, 0), 1);
        QCOMPARE(mirrors.chooseBase(1, 0), 0); // a retry avoids where it failed
        for (int i = 1; i < TMirrorSet::kFailuresBeforeSetAside; ++i)
            QVERIFY(!mirrors.reportFailure(0, 0));
        QVERIFY(mirrors.reportFailure(0, 0));
        for (int i = 0; i < 4; ++i)
            QCOMPARE(mirrors.chooseBase(-1, 1000), 1);
        QCOMPARE(mirrors.chooseBase(1, 1000), 1); // nothing else is healthy
        mirrors.reportSuccess(0);
        QCOMPARE(mirrors.chooseBase(1, TMirrorSet::kSetAsideMs), 0);
        // Failures that are not in a row do not add up.
        QVERIFY(!mirrors.reportFailure(1, 0));
        mirrors.reportSuccess(1);
        QVERIFY(!mirrors.reportFailure(1, 0));
        QVERIFY(!mirrors.reportFailure(1, 0));
    }

    // Catches a place that trickles but never fails kept for good: base 0 serves each of its two
    // connections at SlowRate for BusyMs, base 1 served one body at OtherRate just before.
    void farSlowerBaseIsSetAsideAfterItsWindow_data()
    {
        QTest::addColumn<qint64>("slowRate");
        QTest::addColumn<qint64>("otherRate");
        QTest::addColumn<qint64>("busyMs");
        QTest::addColumn<bool>("otherFailing");
        QTest::addColumn<bool>("setAside");
        const qint64 window = TMirrorSet::kSlowWindowMs;
        QTest::newRow("trickles for a window") << 4096LL << 4194304LL << window << false << true;
        QTest::newRow("under a quarter") << 200LL << 1000LL << window << false << true;
        QTest::newRow("not a whole window yet")
            << 4096LL << 4194304LL << window - 1000 << false << false;
        // Then nothing is slower than the others.
        QTest::newRow("the whole line is slow") << 4096LL << 4096LL << 3 * window << false << false;
        QTest::newRow("a third of the others' rate")
            << 1000LL << 3000LL << 3 * window << false << false;
        QTest::newRow("the only place left") << 4096LL << 4194304LL << window << true << false;
        QTest::newRow("the others never measured") << 4096LL << 0LL << window << false << false;
    }
    void farSlowerBaseIsSetAsideAfterItsWindow()
    {
        QFETCH(qint64, slowRate);
        QFETCH(qint64, otherRate);
        QFETCH(qint64, busyMs);
        QFETCH(bool, otherFailing);
        QFETCH(bool, setAside);
        TMirrorSet mirrors(QUrl("https://a.test/l/"), {QUrl("https://b.test/l/")});
        qint64 now = 1000;
        if (otherRate > 0) {
            mirrors.noteStarted(1, now);
            now += 1000;
            mirrors.noteBytes(1, otherRate, now);
            mirrors.noteEnded(1, now);
        }
        for (int i = 0; otherFailing && i < TMirrorSet::kFailuresBeforeSetAside; ++i)
            mirrors.reportFailure(1, now);
        const qint64 busySince = now;
        mirrors.noteStarted(0, now);
        mirrors.noteStarted(0, now);
        while (now < busySince + busyMs) {
            now += 500;
            // Two connections for half a second each.
            mirrors.noteBytes(0, slowRate, now);
            QCOMPARE(mirrors.setAsideSlowBase(now), now < busySince + busyMs || !setAside ? -1 : 0);
        }
        // Its next bodies go to the other place.
        if (setAside)
            QCOMPARE(mirrors.chooseBase(-1, now), 1);
    }

    // The primary fails in one way or another; every body still arrives, from the mirror, and
    // is reported under the address it was queued with.
    void bodiesComeFromTheMirrorWhenThePrimaryFails_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("refuses connections") << "refused";
        QTest::newRow("answers 500") << "500";
        QTest::newRow("answers 404") << "404";
        QTest::newRow("stalls") << "stall";
    }
    void bodiesComeFromTheMirrorWhenThePrimaryFails()
    {
        QFETCH(QString, fault);
        TTestHttpServer primary;
        TTestHttpServer mirror;
        QVERIFY(primary.start() && mirror.start());
        const QUrl primaryFolder =
            fault == "refused" ? refusingFolder() : primary.url("/tree/launcher/");
        constexpr int kBodies = 12;
        for (int i = 0; i < kBodies; ++i) {
            const QString path = QString("/tree/live/body%1").arg(i);
            mirror.serve(path, "body " + QByteArray::number(i));
            TTestHttpRoute route;
            route.body = "wrong";
            route.status = fault == "404" ? 404 : 500;
            route.stallAfterBytes = fault == "stall" ? 0 : -1;
            if (fault == "stall")
                route.status = 200;
            primary.setRoute(path, route);
        }
        TDownloadPool pool(4,
                           std::make_shared<shared::QNetworkAccessManagerWrapper>(
                               std::make_shared<QNetworkAccessManager>()),
                           true);
        pool.setTransferTimeout(1000);
        pool.setMirrors(std::make_shared<TMirrorSet>(primaryFolder,
                                                     QList<QUrl>{mirror.url("/tree/launcher/")}));
        QVERIFY(pool.hasMirrors());
        QHash<QUrl, QByteArray> received;
        int failures = 0;
        connect(&pool, &TDownloadPool::success, this,
                [&](const QUrl& Url, const QByteArray& Data) { received.insert(Url, Data); });
        // The client's retry rule, as the installation's: try again what failed.
        connect(&pool, &TDownloadPool::failed, this, [&](const QUrl& Url) {
            ++failures;
            pool.queueDownload(Url);
        });
        testsupport::TMessageCapture log;
        const QUrl root = primaryFolder.resolved(QUrl("../"));
        for (int i = 0; i < kBodies; ++i)
            pool.queueDownload(root.resolved(QUrl(QString("live/body%1").arg(i))));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), kBodies, kWaitMs);
        for (int i = 0; i < kBodies; ++i)
            QCOMPARE(received.value(root.resolved(QUrl(QString("live/body%1").arg(i)))),
                     "body " + QByteArray::number(i));
        // A broken base costs a few tries, not one per body.
        QVERIFY2(failures <= TMirrorSet::kFailuresBeforeSetAside + 4,
                 qPrintable(QString::number(failures)));
        QVERIFY(log.contains("set aside for 30 s after 3 failures in a row"));
        // Both places end with the same folders, so the log names the hosts' roots.
        QVERIFY(log.contains("failed on base " + primaryFolder.resolved(QUrl("/")).toString()));
    }
};

QTEST_GUILESS_MAIN(TestMirrorSet)
#include "tst_mirrorset.moc"
