// A place that trickles but never fails: nginx limits every connection to a rate far below what a
// healthy place serves, and the pool must not wait for it.
#include "shared/network/downloadpool.h"
#include "shared/network/mirrorset.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "messagecapture.h"
#include "nginxserver.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QtTest>

using shared::TDownloadPool;
using shared::TMirrorSet;
using testsupport::TNginxServer;
using testsupport::TTestHttpServer;

namespace {

constexpr int kBodies = 8;
constexpr int kBodyBytes = 1 << 20;
// Half the bodies on the trickling place take 32 s at 32 KiB/s; set aside after about ten
// seconds, they are all in well before this.
constexpr int kBoundMs = 20 * 1000;

QByteArray bodyOf(int Index)
{
    return QByteArray(kBodyBytes, char('a' + Index));
}

} // namespace

class TestSlowMirror : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QVERIFY(m_Tree.isValid());
        for (int i = 0; i < kBodies; ++i)
            QVERIFY(testsupport::writeBytes(m_Tree.filePath(QString("tree/live/body%1").arg(i)),
                                            bodyOf(i)));
    }

    // Catches a trickling place never set aside: every body it was given arrived at its rate,
    // 32 s for these at 32 KiB/s and minutes at 4 KiB/s, while the other place served its half
    // in a blink.
    void tricklingPlaceIsSetAsideAndItsBodiesAskedElsewhere_data()
    {
        QTest::addColumn<QByteArray>("rate");
        QTest::newRow("32 KiB/s") << QByteArray("32k");
        QTest::newRow("4 KiB/s") << QByteArray("4k");
    }
    void tricklingPlaceIsSetAsideAndItsBodiesAskedElsewhere()
    {
        QFETCH(QByteArray, rate);
        TNginxServer trickling(m_Tree.path());
        trickling.setRateLimit(rate);
        QVERIFY2(trickling.start(), qPrintable(trickling.error()));
        TTestHttpServer healthy;
        QVERIFY(healthy.start());
        for (int i = 0; i < kBodies; ++i)
            healthy.serve(QString("/tree/live/body%1").arg(i), bodyOf(i));

        TDownloadPool pool(kBodies / 2,
                           std::make_shared<shared::QNetworkAccessManagerWrapper>(
                               std::make_shared<QNetworkAccessManager>()),
                           true);
        const QUrl primaryFolder = trickling.url("/tree/launcher/");
        pool.setMirrors(std::make_shared<TMirrorSet>(primaryFolder,
                                                     QList<QUrl>{healthy.url("/tree/launcher/")}));
        QHash<QUrl, QByteArray> received;
        int failures = 0;
        connect(&pool, &TDownloadPool::success, this,
                [&](const QUrl& Url, const QByteArray& Data) { received.insert(Url, Data); });
        connect(&pool, &TDownloadPool::failed, this, [&] { ++failures; });
        int setAside = 0;
        connect(&pool, &TDownloadPool::failedOnBase, this,
                [&](const QUrl&, const QString&, const QString&, bool SetAside) {
                    setAside += SetAside ? 1 : 0;
                });
        testsupport::TMessageCapture log;
        QElapsedTimer clock;
        clock.start();
        const QUrl root = primaryFolder.resolved(QUrl("../"));
        for (int i = 0; i < kBodies; ++i)
            pool.queueDownload(root.resolved(QUrl(QString("live/body%1").arg(i))));
        QTRY_COMPARE_WITH_TIMEOUT(received.size(), kBodies, kBoundMs);
        qInfo("%d bodies of %d KiB, half on a place at %s/s: %.1f s", kBodies, kBodyBytes >> 10,
              rate.constData(), double(clock.elapsed()) / 1000.0);
        for (int i = 0; i < kBodies; ++i)
            QVERIFY(received.value(root.resolved(QUrl(QString("live/body%1").arg(i)))) ==
                    bodyOf(i));
        // Moved bodies hold their slots and are no client's failure.
        QCOMPARE(failures, 0);
        QCOMPARE(setAside, 1);
        QVERIFY(log.contains("set aside for 30 s after 10 s at under 1/4 of the others' rate"));
        QVERIFY(log.contains("moved off base " + primaryFolder.resolved(QUrl("/")).toString()));
        for (int i = 0; i < kBodies; ++i)
            QCOMPARE(healthy.requestCount(QString("/tree/live/body%1").arg(i)), 1);
    }

private:
    QTemporaryDir m_Tree;
};

QTEST_GUILESS_MAIN(TestSlowMirror)
#include "tst_slowmirror.moc"
