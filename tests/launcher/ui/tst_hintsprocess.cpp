// The real launcher with its window open, showing hints from a server that means harm: whatever
// the hints say and whatever their images' answers are, the launcher stays small.
#include "gzipbomb.h"
#include "launcherinstall.h"
#include "memorypeak.h"
#include "packagefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <QtTest>

using testsupport::TLauncherInstall;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kTimeoutMs = 60000;

} // namespace

class TestHintsProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::useLauncherIdentity(); }

    void hostileHintsLeaveTheLauncherSmall_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("imagePath");
        QTest::addColumn<QString>("hintsPath");
        // The caption was rich text: the label read the device until the system killed it.
        QTest::newRow("caption naming a device") << "<img src=\"/dev/zero\">News"
                                                 << "/late.png"
                                                 << "/hints.json";
        // The image had no limit: the launcher grew by gigabytes before it gave up.
        QTest::newRow("endless image") << "News"
                                       << "/endless.png"
                                       << "/hints.json";
        // Nor had the hints document.
        QTest::newRow("endless hints document") << "News"
                                                << "/late.png"
                                                << "/endless.png";
        // Qt inflated gzip answers by itself, without bound, before any limit saw them.
        QTest::newRow("gzip bomb for an image") << "News"
                                                << "/bomb"
                                                << "/hints.json";
        QTest::newRow("gzip bomb for the hints document") << "News"
                                                          << "/late.png"
                                                          << "/bomb";
    }
    void hostileHintsLeaveTheLauncherSmall()
    {
        QFETCH(QString, title);
        QFETCH(QString, imagePath);
        QFETCH(QString, hintsPath);
        TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TPackageFixture fixture(server, "/live");
        fixture.setFile("bin/client", "#!/bin/sh\n", true);
        fixture.setExecutable("bin/client");
        fixture.publish("1");
        QJsonObject configuration =
            QJsonDocument::fromJson(fixture.launcherConfiguration("Live", false)).object();
        configuration["hints"] = server.url(hintsPath).toString();
        server.serve("/launcher/qormetadata.json", QJsonDocument(configuration).toJson());
        const QJsonObject hint{{"title", title},
                               {"richText", "Read all about it"},
                               {"category", "cat1"},
                               {"imageUrl", server.url(imagePath).toString()},
                               {"url", "https://www.kestrun-online.com/news"}};
        server.serve("/hints.json", QJsonDocument(QJsonArray{hint}).toJson());
        // The image fails only once the window has long been drawn with its caption.
        TTestHttpRoute late;
        late.status = 404;
        late.delayMs = 500;
        server.setRoute("/late.png", late);
        TTestHttpRoute endless;
        endless.body = QByteArray(65536, 'x');
        endless.streamBytes = TTestHttpRoute::kEndless;
        server.setRoute("/endless.png", endless);
        server.setRoute("/bomb", testsupport::gzipRoute(testsupport::gzipBomb(qint64(10) << 30)));

        TLauncherInstall install;
        QVERIFY(install.isValid());
        QVERIFY(install.writeSettings(
            TLauncherInstall::settingsFor(server.url("/launcher/qormetadata.json"))));
        QFile::remove(TLauncherInstall::logFilePath());
        QProcess& launcher = install.start({"--show-ui"});
        QVERIFY(launcher.waitForStarted(kTimeoutMs));
        const qint64 processId = launcher.processId();
        qint64 peakKiB = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            peakKiB = std::max(peakKiB, testsupport::peakResidentKiB(processId));
            // Stopped at once: it would take all the memory there is.
            if (peakKiB > testsupport::kMemoryCeilingKiB)
                launcher.kill();
        });
        sampler.start(20);

        QTRY_VERIFY_WITH_TIMEOUT(TLauncherInstall::logContent().contains("Hint image not shown:") ||
                                     TLauncherInstall::logContent().contains("Hints not used:") ||
                                     launcher.state() != QProcess::Running ||
                                     peakKiB > testsupport::kMemoryCeilingKiB,
                                 kTimeoutMs);
        qInfo("launcher peak %lld KiB", peakKiB);
        QVERIFY2(peakKiB > 0 && peakKiB < testsupport::kMemoryCeilingKiB,
                 qPrintable(QString::number(peakKiB)));
        QCOMPARE(launcher.state(), QProcess::Running);
        if (hintsPath == "/hints.json")
            QVERIFY2(TLauncherInstall::logContent().contains("Hint banner shows \"cat1:"),
                     TLauncherInstall::logContent().right(1500));
    }
};

QTEST_GUILESS_MAIN(TestHintsProcess)
#include "tst_hintsprocess.moc"
