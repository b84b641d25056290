#include "launcher/telemetry/funnelevents.h"
#include "launcher/telemetry/sharedidentifierfile.h"

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
const QString kIdentifierKey = QStringLiteral("FunnelUuid");

QStringList g_Messages;

void recordMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    g_Messages.append(message);
}

bool logged(const QString& text)
{
    for (const QString& message : g_Messages)
        if (message.contains(text))
            return true;
    return false;
}

QString sharedDirectory()
{
    return QFileInfo(sharedIdentifierFilePath()).absolutePath();
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
    void cleanupTestCase() { qInstallMessageHandler(nullptr); }

    void init()
    {
        // Every test starts as a fresh account.
        QSettings().clear();
        QDir(sharedDirectory()).removeRecursively();
        g_Messages.clear();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->serve("/funnel", "{\"ok\": true}");
        m_pParent = std::make_unique<QObject>();
    }
    void cleanup() { m_pParent.reset(); }

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
            send(accountGroup, funnelsteps::kStarted, funnelkeys::kStartedFirst);
        const QString id = first.value("id").toString();
        QVERIFY2(
            QRegularExpression("^[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}$")
                .match(id)
                .hasMatch(),
            qPrintable(id));
        QCOMPARE(first, (QJsonObject{{"accountgroupkey", accountGroup},
                                     {"first", true},
                                     {"id", id},
                                     {"step", "launcher_started"}}));
        QCOMPARE(QSettings().value("FunnelUuid").toString(), id);
        QCOMPARE(QSettings().value("FunnelStartedFirst"), QVariant(false));

        // A later run of the launcher reads what the first stored.
        const QJsonObject second =
            send(accountGroup, funnelsteps::kStarted, funnelkeys::kStartedFirst);
        QCOMPARE(second.value("first"), QJsonValue(false));
        QCOMPARE(second.value("id").toString(), id);
    }

    void theRequestCarriesIndentedJsonAndOneHeader()
    {
        send(QString(), funnelsteps::kVerified, funnelkeys::kFinishedVerifyingFirst);
        const testsupport::TTestHttpRequest request = m_pServer->requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        // The JSON upload protocol's form header belongs to the survey, not to funnel events.
        QVERIFY(request.header("Content-Disposition").isEmpty());
        QVERIFY2(
            request.body.startsWith("{\n    \"accountgroupkey\": \"\",\n    \"first\": true,\n"),
            request.body);
        // The service's answer is logged as text.
        QTRY_VERIFY_WITH_TIMEOUT(logged("Funnel response received (Step:  \"launcher_verified\" "
                                        "): \"{\\\"ok\\\": true}\""),
                                 kWaitMs);
    }

    void eachStepHasAFlagOfItsOwn()
    {
        // Two downloads in one run, then the other steps for the first time.
        const QList<QPair<QString, QString>> events{
            {funnelsteps::kDownloaded, funnelkeys::kFinishedDownloadingFirst},
            {funnelsteps::kDownloaded, funnelkeys::kFinishedDownloadingFirst},
            {funnelsteps::kVerified, funnelkeys::kFinishedVerifyingFirst},
            {funnelsteps::kStarted, funnelkeys::kStartedFirst}};
        QList<bool> firsts;
        for (const auto& event : events)
            firsts.append(send(QString(), event.first, event.second).value("first").toBool());
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
        const QString id = send(QString(), funnelsteps::kStarted, funnelkeys::kStartedFirst)
                               .value("id")
                               .toString();
        if (!directoryExists) {
            QVERIFY(!QFileInfo::exists(sharedDirectory()));
            return;
        }
        QCOMPARE(sharedIdentifierFilePath(),
                 qEnvironmentVariable("XDG_DATA_HOME") + "/Kestrun Online/kestrunShared.json");
        QCOMPARE(testsupport::readBytes(sharedIdentifierFilePath()),
                 QJsonDocument(QJsonObject{{"DeviceIdentifier", id}}).toJson());

        // Written when the identifier is made, and only then.
        QVERIFY(testsupport::writeBytes(sharedIdentifierFilePath(), "the client's own"));
        send(QString(), funnelsteps::kStarted, funnelkeys::kStartedFirst);
        QCOMPARE(testsupport::readBytes(sharedIdentifierFilePath()),
                 QByteArray("the client's own"));
    }

    void failingServiceIsOnlyLogged_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<qint64>("closeAfterBytes");
        QTest::addColumn<bool>("emptyUrl");
        QTest::newRow("server error") << 500 << qint64(-1) << false;
        QTest::newRow("connection cut") << 200 << qint64(0) << false;
        QTest::newRow("no funnel address") << 200 << qint64(-1) << true;
    }
    void failingServiceIsOnlyLogged()
    {
        QFETCH(int, status);
        QFETCH(qint64, closeAfterBytes);
        QFETCH(bool, emptyUrl);
        testsupport::TTestHttpRoute route;
        route.status = status;
        route.body = "{}";
        route.closeAfterBytes = closeAfterBytes;
        m_pServer->setRoute("/funnel", route);

        TFunnelEventSender(m_pParent.get(), kIdentifierKey, true)
            .send(emptyUrl ? QUrl() : m_pServer->url("/funnel"), QString(), funnelsteps::kStarted,
                  funnelkeys::kStartedFirst);
        QTRY_VERIFY_WITH_TIMEOUT(logged("Error funnel sending (Step:  \"launcher_started\" ):"),
                                 kWaitMs);
        QVERIFY(!logged("Funnel response received"));
        // The event counts as sent: a later one is not "first" again.
        QCOMPARE(QSettings().value("FunnelStartedFirst"), QVariant(false));
        // Nothing is retried.
        QCOMPARE(m_pServer->requestCount("/funnel"), emptyUrl ? 0 : 1);
    }

    void switchedOffSendsAndStoresNothing()
    {
        TFunnelEventSender(m_pParent.get(), kIdentifierKey, false)
            .send(m_pServer->url("/off"), QString(), funnelsteps::kStarted,
                  funnelkeys::kStartedFirst);
        QVERIFY(logged("sendFunnelEvent:  \"launcher_started\""));
        QVERIFY(!logged("Sending funnel event"));
        QVERIFY(QSettings().allKeys().isEmpty());
        // An event sent afterwards arrives alone.
        send(QString(), funnelsteps::kStarted, funnelkeys::kStartedFirst);
        QCOMPARE(m_pServer->requestCount("/off"), 0);
    }

    void sharedFileCopiedIntoAPackage_data()
    {
        QTest::addColumn<QByteArray>("shared");
        QTest::addColumn<QByteArray>("oldCopy");
        QTest::addColumn<QByteArray>("expectedCopy");
        QTest::newRow("no shared file") << QByteArray() << QByteArray() << QByteArray();
        QTest::newRow("first copy") << QByteArray("{\"DeviceIdentifier\": \"a\"}") << QByteArray()
                                    << QByteArray("{\"DeviceIdentifier\": \"a\"}");
        // A plain copy would keep the stale one.
        QTest::newRow("older copy replaced") << QByteArray("{\"DeviceIdentifier\": \"b\"}")
                                             << QByteArray("{\"DeviceIdentifier\": \"old\"}")
                                             << QByteArray("{\"DeviceIdentifier\": \"b\"}");
    }
    void sharedFileCopiedIntoAPackage()
    {
        QFETCH(QByteArray, shared);
        QFETCH(QByteArray, oldCopy);
        QFETCH(QByteArray, expectedCopy);
        QTemporaryDir package;
        if (!shared.isEmpty())
            QVERIFY(testsupport::writeBytes(sharedIdentifierFilePath(), shared));
        const QString copy = package.filePath("kestrunShared.json");
        if (!oldCopy.isEmpty())
            QVERIFY(testsupport::writeBytes(copy, oldCopy));
        copySharedIdentifierFileInto(QDir(package.path()));
        QCOMPARE(QFileInfo::exists(copy), !expectedCopy.isEmpty());
        QCOMPARE(testsupport::readBytes(copy), expectedCopy);
    }

private:
    // Sends one event as a run of the launcher would and returns the body the service received.
    QJsonObject send(const QString& AccountGroup, const QString& Step, const QString& FirstFlagKey)
    {
        const int before = m_pServer->requestCount("/funnel");
        TFunnelEventSender(m_pParent.get(), kIdentifierKey, true)
            .send(m_pServer->url("/funnel"), AccountGroup, Step, FirstFlagKey);
        QSignalSpy received(m_pServer.get(), &TTestHttpServer::requestReceived);
        if (m_pServer->requestCount("/funnel") == before && !received.wait(kWaitMs))
            return {};
        return QJsonDocument::fromJson(m_pServer->requests().last().body).object();
    }

    std::unique_ptr<TTestHttpServer> m_pServer;
    // Stands for the application: the parent of each event's network access manager.
    std::unique_ptr<QObject> m_pParent;
};

QTEST_GUILESS_MAIN(TestFunnelEvents)
#include "tst_funnelevents.moc"
