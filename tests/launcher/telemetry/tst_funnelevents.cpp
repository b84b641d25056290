#include "launcher/telemetry/funnelevents.h"
#include "launcher/telemetry/sharedidentifierfile.h"

#include "gzipbomb.h"
#include "memorypeak.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QDir>
#include <QJsonDocument>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 30000;

QStringList g_Messages;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_Messages.append(message);
}

bool logged(const QString& text)
{
    return std::any_of(g_Messages.begin(), g_Messages.end(),
                       [&](const QString& message) { return message.contains(text); });
}

QString sharedDirectory()
{
    return qEnvironmentVariable("XDG_DATA_HOME") + "/Kestrun Online";
}

} // namespace

class TestFunnelEvents : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        testsupport::useLauncherIdentity();
        qInstallMessageHandler(recordMessage);
    }

    void init()
    {
        // Every test starts as a fresh account.
        QSettings().clear();
        QDir(sharedDirectory()).removeRecursively();
        g_Messages.clear();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->serve("/funnel", "{\"ok\": true}");
        m_pApplication = std::make_unique<QObject>();
    }

    void freshAccountThenLaterRuns_data()
    {
        QTest::addColumn<QString>("accountGroup");
        QTest::newRow("no account group") << QString("");
        QTest::newRow("account group") << QString("Guild-7");
    }
    void freshAccountThenLaterRuns()
    {
        QFETCH(QString, accountGroup);
        const QJsonObject first =
            send(funnelsteps::kStarted, funnelkeys::kStartedFirst, accountGroup);
        const QString id = first.value("id").toString();
        QVERIFY2(
            QRegularExpression("^[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}$").match(id).hasMatch(),
            qPrintable(id));
        QCOMPARE(first, (QJsonObject{{"accountgroupkey", accountGroup},
                                     {"first", true},
                                     {"id", id},
                                     {"step", "launcher_started"}}));
        QCOMPARE(QSettings().value("FunnelUuid").toString(), id);
        QCOMPARE(QSettings().value("FunnelStartedFirst"), QVariant(false));

        // Indented JSON and no header of the survey's upload protocol.
        const testsupport::TTestHttpRequest request = m_pServer->requests().first();
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        QVERIFY(request.header("Content-Disposition").isEmpty());
        QVERIFY2(request.body.startsWith("{\n    \"accountgroupkey\": "), request.body);
        QTRY_VERIFY_WITH_TIMEOUT(
            logged(
                "Funnel response received (Step:  \"launcher_started\" ): \"{\\\"ok\\\": true}\""),
            kWaitMs);

        // A later run reads what the first stored.
        const QJsonObject second =
            send(funnelsteps::kStarted, funnelkeys::kStartedFirst, accountGroup);
        QCOMPARE(second.value("first"), QJsonValue(false));
        QCOMPARE(second.value("id").toString(), id);
    }

    void eachStepHasAFlagOfItsOwn()
    {
        // Two downloads in one run, then the other steps for the first time.
        QList<bool> firsts;
        for (const auto& [step, key] : QList<QPair<QString, QString>>{
                 {funnelsteps::kDownloaded, funnelkeys::kFinishedDownloadingFirst},
                 {funnelsteps::kDownloaded, funnelkeys::kFinishedDownloadingFirst},
                 {funnelsteps::kVerified, funnelkeys::kFinishedVerifyingFirst},
                 {funnelsteps::kStarted, funnelkeys::kStartedFirst}})
            firsts.append(send(step, key).value("first").toBool());
        QCOMPARE(firsts, (QList<bool>{true, false, true, true}));
    }

    void sharedFileOnlyIntoAnExistingDirectory_data()
    {
        QTest::addColumn<bool>("directoryExists");
        QTest::newRow("directory exists") << true;
        QTest::newRow("no directory") << false;
    }
    void sharedFileOnlyIntoAnExistingDirectory()
    {
        QFETCH(bool, directoryExists);
        if (directoryExists)
            QVERIFY(QDir().mkpath(sharedDirectory()));
        const QString id =
            send(funnelsteps::kStarted, funnelkeys::kStartedFirst).value("id").toString();
        const QString path = sharedDirectory() + "/kestrunShared.json";
        QCOMPARE(QFileInfo::exists(sharedDirectory()), directoryExists);
        if (!directoryExists)
            return;
        QCOMPARE(testsupport::readBytes(path),
                 QJsonDocument(QJsonObject{{"DeviceIdentifier", id}}).toJson());
        // Written when the identifier is made, and only then.
        QVERIFY(testsupport::writeBytes(path, "the client's own"));
        send(funnelsteps::kStarted, funnelkeys::kStartedFirst);
        QCOMPARE(testsupport::readBytes(path), QByteArray("the client's own"));
    }

    void failingServiceIsOnlyLogged_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<bool>("emptyUrl");
        QTest::newRow("server error") << 500 << false;
        QTest::newRow("no funnel address") << 200 << true;
    }
    void failingServiceIsOnlyLogged()
    {
        QFETCH(int, status);
        QFETCH(bool, emptyUrl);
        testsupport::TTestHttpRoute route;
        route.status = status;
        m_pServer->setRoute("/funnel", route);
        TFunnelEventSender(m_pApplication.get(), "FunnelUuid", true)
            .send(emptyUrl ? QUrl() : m_pServer->url("/funnel"), QString(), funnelsteps::kStarted,
                  funnelkeys::kStartedFirst);
        QTRY_VERIFY_WITH_TIMEOUT(logged("Error funnel sending (Step:  \"launcher_started\" ):"),
                                 kWaitMs);
        // Counted as sent all the same, and not retried.
        QCOMPARE(QSettings().value("FunnelStartedFirst"), QVariant(false));
        QCOMPARE(m_pServer->requestCount("/funnel"), emptyUrl ? 0 : 1);
    }

    void gzipAnswerIsOnlyLoggedInLittleMemory_data()
    {
        QTest::addColumn<qint64>("inflated");
        QTest::newRow("3 GiB") << (qint64(3) << 30);
        QTest::newRow("10 GiB") << (qint64(10) << 30);
    }
    // Qt inflated the answer by itself, without bound: a few megabytes of gzip'ed zeros took the
    // launcher to gigabytes, and ten gigabytes of them got it killed.
    void gzipAnswerIsOnlyLoggedInLittleMemory()
    {
        QFETCH(qint64, inflated);
        m_pServer->setRoute("/funnel", testsupport::gzipRoute(testsupport::gzipBomb(inflated)));
        QVERIFY(testsupport::resetPeakResident());
        TFunnelEventSender(m_pApplication.get(), "FunnelUuid", true)
            .send(m_pServer->url("/funnel"), QString(), funnelsteps::kStarted,
                  funnelkeys::kStartedFirst);
        QTRY_VERIFY_WITH_TIMEOUT(logged("Error funnel sending (Step:  \"launcher_started\" ):") ||
                                     testsupport::peakResidentKiB() >
                                         testsupport::kMemoryCeilingKiB,
                                 kWaitMs);
        const qint64 peak = testsupport::peakResidentKiB();
        qInfo("peak %lld KiB", peak);
        QVERIFY2(peak < testsupport::kMemoryCeilingKiB, qPrintable(QString::number(peak)));
        QVERIFY(logged("which was not asked for"));
        QCOMPARE(m_pServer->requests().last().header("Accept-Encoding"), QByteArray("identity"));
    }

    void sharedFileCopiedIntoAPackage_data()
    {
        QTest::addColumn<QByteArray>("shared");
        QTest::newRow("no shared file") << QByteArray();
        // A plain file copy would keep the stale one.
        QTest::newRow("older copy replaced") << QByteArray("{\"DeviceIdentifier\": \"b\"}");
    }
    void sharedFileCopiedIntoAPackage()
    {
        QFETCH(QByteArray, shared);
        QTemporaryDir package;
        const QString copy = package.filePath("kestrunShared.json");
        QVERIFY(testsupport::writeBytes(copy, "{\"DeviceIdentifier\": \"old\"}"));
        if (!shared.isEmpty())
            QVERIFY(testsupport::writeBytes(sharedIdentifierFilePath(), shared));
        copySharedIdentifierFileInto(QDir(package.path()));
        QCOMPARE(testsupport::readBytes(copy),
                 shared.isEmpty() ? QByteArray("{\"DeviceIdentifier\": \"old\"}") : shared);
    }

private:
    // One event as a run of the launcher sends it; returns the body the service received.
    QJsonObject send(const QString& Step, const QString& FirstFlagKey,
                     const QString& AccountGroup = QString())
    {
        const int before = m_pServer->requestCount("/funnel");
        QSignalSpy received(m_pServer.get(), &TTestHttpServer::requestReceived);
        TFunnelEventSender(m_pApplication.get(), "FunnelUuid", true)
            .send(m_pServer->url("/funnel"), AccountGroup, Step, FirstFlagKey);
        if (m_pServer->requestCount("/funnel") == before && !received.wait(kWaitMs))
            return {};
        return QJsonDocument::fromJson(m_pServer->requests().last().body).object();
    }

    std::unique_ptr<TTestHttpServer> m_pServer;
    // Stands for the application: the parent of each event's network access manager.
    std::unique_ptr<QObject> m_pApplication;
};

QTEST_GUILESS_MAIN(TestFunnelEvents)
#include "tst_funnelevents.moc"
