// The real launcher installing a package from a local server that also plays the funnel and
// survey services.
#include "gzipbomb.h"
#include "launcherinstall.h"
#include "memorypeak.h"
#include "packagefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

using testsupport::TLauncherInstall;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kTimeoutMs = 60000;

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + "/packages/Live";
}

QString sharedFilePath()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + "/Kestrun Online/kestrunShared.json";
}

QList<QJsonObject> bodies(const TTestHttpServer& server, const QString& path)
{
    QList<QJsonObject> result;
    for (const testsupport::TTestHttpRequest& request : server.requests())
        if (request.path == path)
            result.append(QJsonDocument::fromJson(request.body).object());
    return result;
}

// The steps in the order of their names: separate posts may arrive in any order.
QStringList steps(const QList<QJsonObject>& Events)
{
    QStringList result;
    for (const QJsonObject& event : Events)
        result.append(event.value("step").toString());
    result.sort();
    return result;
}

} // namespace

class TestTelemetryProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::useLauncherIdentity();
        qRegisterMetaType<QProcess::ExitStatus>();
    }

    void init()
    {
        QSettings().clear();
        QDir(testsupport::kestrunDataDirectory()).removeRecursively();
        QDir(QFileInfo(sharedFilePath()).absolutePath()).removeRecursively();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->serve("/funnel", "{\"received\": true}");
        m_pServer->serve("/survey", "{}");
        m_pFixture = std::make_unique<testsupport::TPackageFixture>(*m_pServer, "/live");
        m_pFixture->setFile("bin/client", "#!/bin/sh\n", true);
        m_pFixture->setFile("data/level.dat", QByteArray(200000, 'L'));
        m_pFixture->setExecutable("bin/client");
        m_pInstall = std::make_unique<TLauncherInstall>();
        QVERIFY(m_pInstall->isValid());
    }

    void installsPostFunnelEventsAndOneSurveyPerRun()
    {
        // The game client made the shared directory in an earlier life.
        QVERIFY(QDir().mkpath(QFileInfo(sharedFilePath()).absolutePath()));

        m_pFixture->publish("1");
        installWithLauncher(QByteArray());
        // The window, the download and the verification each report their step once.
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestCount("/funnel"), 3, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestCount("/survey"), 1, kTimeoutMs);
        QList<QJsonObject> funnel = bodies(*m_pServer, "/funnel");
        const QString id = funnel[0].value("id").toString();
        QCOMPARE(id.size(), 36);
        QCOMPARE(steps(funnel),
                 (QStringList{"launcher_downloaded", "launcher_started", "launcher_verified"}));
        for (const QJsonObject& event : funnel)
            QCOMPARE(event, (QJsonObject{{"accountgroupkey", ""},
                                         {"first", true},
                                         {"id", id},
                                         {"step", event.value("step")}}));
        QCOMPARE(QSettings().value("FunnelUuid").toString(), id);

        // The identifier is shared with the client, beside the verified package too.
        const QByteArray shared = testsupport::readBytes(sharedFilePath());
        QCOMPARE(QJsonDocument::fromJson(shared).object().value("DeviceIdentifier").toString(), id);
        QCOMPARE(testsupport::readBytes(packageDirectory() + "/kestrunShared.json"), shared);

        const QJsonObject survey = bodies(*m_pServer, "/survey").first();
        const QString clientId = survey.value("clientID").toString();
        QCOMPARE(clientId.size(), 40);
        QCOMPARE(survey.value("cpu").toObject().value("logicalCoreNumber").toInt(),
                 int(sysconf(_SC_NPROCESSORS_ONLN)));
        QCOMPARE(survey.value("gpu").toArray().first().toObject().value("deviceString").toString(),
                 QString("not implemented"));

        // The next run updates: the same identifier, no longer first, and a survey of its own.
        m_pFixture->setFile("data/level.dat", QByteArray(200000, 'M'));
        m_pFixture->publish("2");
        installWithLauncher(QByteArray());
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestCount("/funnel"), 6, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(m_pServer->requestCount("/survey"), 2, kTimeoutMs);
        funnel = bodies(*m_pServer, "/funnel").mid(3);
        QCOMPARE(steps(funnel),
                 (QStringList{"launcher_downloaded", "launcher_started", "launcher_verified"}));
        for (const QJsonObject& event : funnel) {
            QCOMPARE(event.value("first"), QJsonValue(false));
            QCOMPARE(event.value("id").toString(), id);
        }
        QCOMPARE(testsupport::readBytes(sharedFilePath()), shared);
        QCOMPARE(bodies(*m_pServer, "/survey").last().value("clientID").toString(), clientId);
    }

    void telemetryNeverChangesTheInstall_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<qint64>("streamBytes");
        QTest::addColumn<qint64>("gzipBomb"); // bytes of zeros the answers inflate to; 0: none
        QTest::newRow("services fail")
            << QByteArray() << 500 << 0 << true << qint64(-1) << qint64(0);
        // The launcher starts the client and ends without waiting for an answer.
        QTest::newRow("services never answer")
            << QByteArray() << 200 << 120000 << true << qint64(-1) << qint64(0);
        // The answers were collected however long they grew, and the launcher with them.
        QTest::newRow("services answer without end")
            << QByteArray() << 200 << 0 << true << TTestHttpRoute::kEndless << qint64(0);
        // Qt inflated them by itself, without bound, until the system killed the launcher.
        QTest::newRow("services answer with a gzip bomb")
            << QByteArray() << 200 << 0 << true << qint64(-1) << (qint64(10) << 30);
        QTest::newRow("switched off")
            << QByteArray("telemetry=false\n") << 200 << 0 << false << qint64(-1) << qint64(0);
    }
    void telemetryNeverChangesTheInstall()
    {
        QFETCH(QByteArray, settings);
        QFETCH(int, status);
        QFETCH(int, delayMs);
        QFETCH(bool, sent);
        QFETCH(qint64, streamBytes);
        QFETCH(qint64, gzipBomb);
        TTestHttpRoute route = gzipBomb > 0
                                   ? testsupport::gzipRoute(testsupport::gzipBomb(gzipBomb))
                                   : TTestHttpRoute();
        route.status = status;
        route.delayMs = delayMs;
        if (gzipBomb == 0)
            route.body = streamBytes < 0 ? QByteArray("{}") : QByteArray(65536, ' ');
        route.streamBytes = streamBytes;
        m_pServer->setRoute("/funnel", route);
        m_pServer->setRoute("/survey", route);
        QVERIFY(QDir().mkpath(QFileInfo(sharedFilePath()).absolutePath()));
        const QByteArray document = m_pFixture->publish("1");

        installWithLauncher(settings);
        QCOMPARE(testsupport::readBytes(packageDirectory() + "/package.json"), document);
        QCOMPARE(testsupport::readBytes(packageDirectory() + "/data/level.dat"),
                 QByteArray(200000, 'L'));
        const QByteArray log = TLauncherInstall::logContent();
        QCOMPARE(log.contains("Sending funnel event for step  \"launcher_verified\""), sent);
        QCOMPARE(log.contains("Sending system survey"), sent);
        QCOMPARE(log.count("Telemetry switched off"), sent ? 0 : 1);
        if (!sent) {
            // Nothing made or stored that could identify the account.
            QVERIFY(!QSettings().contains("FunnelUuid"));
            QVERIFY(!QFileInfo::exists(sharedFilePath()));
            QVERIFY(!QFileInfo::exists(packageDirectory() + "/kestrunShared.json"));
            QCOMPARE(m_pServer->requestCount("/funnel"), 0);
            QCOMPARE(m_pServer->requestCount("/survey"), 0);
        }
        qInfo("launcher peak %lld KiB", m_PeakKiB);
        QVERIFY2(m_PeakKiB > 0 && m_PeakKiB < testsupport::kMemoryCeilingKiB,
                 qPrintable(QString::number(m_PeakKiB)));
    }

private:
    // One run with --first-launch that installs or updates the package, verifies it, starts its
    // client and ends with status 0.
    void installWithLauncher(const QByteArray& extraOptions)
    {
        QJsonObject configuration =
            QJsonDocument::fromJson(m_pFixture->launcherConfiguration("Live", true)).object();
        configuration["funnel"] = m_pServer->url("/funnel").toString();
        configuration["hardwaresurvey"] = m_pServer->url("/survey").toString();
        m_pServer->serve("/launcher/qormetadata.json", QJsonDocument(configuration).toJson());
        QVERIFY(m_pInstall->writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\n" + extraOptions));
        QFile::remove(TLauncherInstall::logFilePath());

        QProcess& launcher = m_pInstall->start({"--first-launch"});
        QVERIFY(launcher.waitForStarted(kTimeoutMs));
        m_PeakKiB = 0;
        QTimer sampler;
        const qint64 processId = launcher.processId();
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            m_PeakKiB = std::max(m_PeakKiB, testsupport::peakResidentKiB(processId));
        });
        sampler.start(20);
        QSignalSpy finished(&launcher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(finished.wait(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QVERIFY2(launcher.exitCode() == 0, TLauncherInstall::logContent());
    }

    std::unique_ptr<TTestHttpServer> m_pServer;
    std::unique_ptr<testsupport::TPackageFixture> m_pFixture;
    std::unique_ptr<TLauncherInstall> m_pInstall;
    // The launcher's peak resident memory in the last run, in KiB.
    qint64 m_PeakKiB = 0;
};

QTEST_GUILESS_MAIN(TestTelemetryProcess)
#include "tst_telemetryprocess.moc"
