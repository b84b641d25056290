#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/package/package.h"
#include "shared/hash/sha256.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/signature/documentsignature.h"

#include "gzipbomb.h"
#include "memorypeak.h"
#include "messagecapture.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 30000;
const QString kConfigurationPath = "/launcher/qormetadata.json";

QByteArray linuxBuild(const QString& url, const QString& assetsUrl = {})
{
    QByteArray build =
        "{\"os\": \"linux\", \"architecture\": \"x86_64\", \"url\": \"" + url.toUtf8() + "\"";
    if (!assetsUrl.isNull())
        build += ", \"assetsurl\": \"" + assetsUrl.toUtf8() + "\"";
    return build + "}";
}

QByteArray package(const QString& name, const QByteArray& builds)
{
    return "{\"name\": \"" + name.toUtf8() + "\", \"directoryname\": \"" + name.toUtf8() +
           "\", \"builds\": [" + builds + "]}";
}

QByteArray configuration(const QByteArrayList& packages, const QByteArray& extra = {})
{
    return "{\"packages\": [" + packages.join(", ") + "]" + extra + "}";
}

QString nameOf(const TLauncherConfigurationHandler& handler, size_t index)
{
    return handler.getLauncherConfiguration()->getPackages().at(index)->getName();
}

// One launcher's worth of configuration machinery, pointed at a local test server.
class THarness
{
public:
    explicit THarness(TTestHttpServer& server, int errorTimeoutMs = 10000, bool nocache = false,
                      const QUrl& configurationUrl = {}, const QByteArray& extraIni = {})
    {
        const QUrl url =
            configurationUrl.isEmpty() ? server.url(kConfigurationPath) : configurationUrl;
        const QByteArray ini = "[URLS]\nlauncherConfiguration=" + url.toEncoded() +
                               "\nappendNocacheToPackageUrls=" + (nocache ? "true" : "false") +
                               "\n[DIRECTORIES]\npackages=packages\n"
                               "[FILES]\npackageFile=package.json\nassetFile=assets.json\n"
                               "[TIMING]\ndownloadErrorTimeout=" +
                               QByteArray::number(errorTimeoutMs) + "\n" + extraIni;
        testsupport::writeBytes(m_ApplicationDir.filePath("launchersettings.ini"), ini);
        m_pFilesystem = std::make_shared<TLauncherFilesystemHelper>(m_ApplicationDir.path());
        auto manager = std::make_shared<shared::QNetworkAccessManagerWrapper>(
            std::make_shared<QNetworkAccessManager>());
        m_pPool = std::make_shared<shared::TDownloadPool>(6, manager, true);
        m_pHandler = std::make_unique<TLauncherConfigurationHandler>(m_pPool, m_pFilesystem);
    }

    TLauncherConfigurationHandler& handler() { return *m_pHandler; }

    // Requests the launcher configuration and waits until one is loaded, downloaded or local.
    bool loadMainConfiguration()
    {
        QSignalSpy loaded(m_pHandler.get(),
                          &TLauncherConfigurationHandler::mainConfigurationLoaded);
        m_pHandler->requestMainConfiguration();
        return loaded.wait(kWaitMs);
    }
    shared::TDownloadPool& pool() { return *m_pPool; }

private:
    QTemporaryDir m_ApplicationDir;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystem;
    std::shared_ptr<shared::TDownloadPool> m_pPool;
    std::unique_ptr<TLauncherConfigurationHandler> m_pHandler;
};

// Signals may come synchronously from the call that starts the work.
bool waitFor(QSignalSpy& spy)
{
    return !spy.isEmpty() || spy.wait(kWaitMs);
}

QString localCopyPath()
{
    return testsupport::kestrunDataDirectory() + "/launchermetadata.json";
}

QUrl refusedUrl()
{
    // A port that was just free: nothing listens there any more.
    TTestHttpServer closed;
    closed.start();
    const QUrl url = closed.url(kConfigurationPath);
    closed.close();
    return url;
}

// A studio's key and the documents it signs for the test server.
class TStudio
{
public:
    QByteArray publicKey() const { return shared::signature::formatPublicKey(m_Keys.PublicKey); }
    QByteArray settings() const { return "[SECURITY]\ndocumentPublicKey=" + publicKey() + "\n"; }
    QByteArray sign(const QByteArray& document) const
    {
        return shared::signature::signDocument(m_Keys.PrivateKeyPem, document);
    }
    // Serves the document and its signature.
    void publish(TTestHttpServer& server, const QString& path, const QByteArray& document) const
    {
        server.serve(path, document);
        server.serve(path + ".sig", sign(document));
    }

private:
    shared::signature::TKeyPair m_Keys = shared::signature::generateKeyPair();
};

QByteArray pin(const QString& address, const QByteArray& document)
{
    return "\"" + address.toUtf8() + "\": {\"sha256\": \"" + shared::sha256(document).toHex() +
           "\", \"size\": " + QByteArray::number(document.size()) + "}";
}

QByteArray trust(qint64 serial, const QByteArrayList& pins,
                 const QDateTime& expires = QDateTime::currentDateTimeUtc().addDays(1),
                 const QByteArray& place = {})
{
    return ", \"trust\": {\"serial\": " + QByteArray::number(serial) + ", \"expires\": \"" +
           expires.toString(Qt::ISODate).toUtf8() + "\"" + place + ", \"documents\": {" +
           pins.join(", ") + "}}";
}

// The members of a trust object that name where the configuration belongs; empty ones are left
// out.
QByteArray place(const QString& address, const QString& channel)
{
    QByteArray members;
    if (!address.isEmpty())
        members += ", \"address\": \"" + address.toUtf8() + "\"";
    if (!channel.isEmpty())
        members += ", \"channel\": \"" + channel.toUtf8() + "\"";
    return members;
}

// A configuration without documents, signed and bound with this serial and place.
QByteArray boundConfiguration(const QString& name, qint64 serial, const QByteArray& where = {})
{
    return configuration({package(name, {})},
                         trust(serial, {}, QDateTime::currentDateTimeUtc().addDays(1), where));
}

} // namespace

class TestLauncherConfigurationHandler : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::useLauncherIdentity(); }

    void init()
    {
        QFile::remove(localCopyPath());
        QVERIFY(m_Server.start());
    }

    void cleanup() { m_Server.close(); }

    void configurationInTimeIsStoredByteForByte()
    {
        const QByteArray document = configuration({package("Live", {})}, ", \"hints\": \"h\"");
        m_Server.serve(kConfigurationPath, document);
        THarness harness(m_Server);
        QVERIFY(harness.loadMainConfiguration());
        QVERIFY(!harness.handler().isLocalConfiguration());
        QCOMPARE(nameOf(harness.handler(), 0), QString("Live"));
        QCOMPARE(harness.handler().getLauncherConfiguration()->getBaseUrl(),
                 m_Server.url("/launcher/"));
        QCOMPARE(testsupport::readBytes(localCopyPath()), document);
    }

    void lateConfigurationIsIgnored()
    {
        QVERIFY(testsupport::writeBytes(localCopyPath(), configuration({package("Local", {})})));
        TTestHttpRoute slow;
        slow.body = configuration({package("Remote", {})});
        slow.delayMs = 1500;
        m_Server.setRoute(kConfigurationPath, slow);
        THarness harness(m_Server, 100);
        QSignalSpy loaded(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationLoaded);
        QSignalSpy arrived(&harness.pool(), &shared::TDownloadPool::success);
        harness.handler().requestMainConfiguration();
        QVERIFY(loaded.wait(kWaitMs));
        QVERIFY(harness.handler().isLocalConfiguration());
        QCOMPARE(nameOf(harness.handler(), 0), QString("Local"));

        QVERIFY(arrived.wait(kWaitMs)); // the late answer comes and must change nothing
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(nameOf(harness.handler(), 0), QString("Local"));
        QCOMPARE(testsupport::readBytes(localCopyPath()), configuration({package("Local", {})}));
    }

    void lateFailureIsIgnored_data()
    {
        QTest::addColumn<int>("status");
        QTest::newRow("500") << 500;
        QTest::newRow("403") << 403;
        QTest::newRow("404") << 404;
    }
    void lateFailureIsIgnored()
    {
        // A failure after the switch to the local copy used to start everything over: the
        // maintenance box in the middle of a session, or installations thrown away.
        QFETCH(int, status);
        QVERIFY(testsupport::writeBytes(localCopyPath(), configuration({package("Local", {})})));
        TTestHttpRoute late;
        late.status = status;
        late.delayMs = 1500;
        m_Server.setRoute(kConfigurationPath, late);
        THarness harness(m_Server, 100);
        QSignalSpy loaded(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationLoaded);
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        QSignalSpy arrived(&harness.pool(), &shared::TDownloadPool::failed);
        harness.handler().requestMainConfiguration();
        QVERIFY(loaded.wait(kWaitMs));
        QVERIFY(arrived.wait(kWaitMs));
        QCOMPARE(loaded.count(), 1);
        QCOMPARE(failed.count(), 0);
        QVERIFY(harness.handler().isLocalConfiguration());
    }

    void unusablePackageDocumentIsNotAttached_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::newRow("error page")
            << QByteArray("<html><body>Log in to the hotel wifi</body></html>");
        QTest::newRow("empty object") << QByteArray("{}");
        QTest::newRow("array") << QByteArray("[]");
        QTest::newRow("truncated") << QByteArray("{\"version\": \"2\", \"files\": [{\"localf");
    }
    void unusablePackageDocumentIsNotAttached()
    {
        // Attached, such a document made planning delete every installed file of the package.
        QFETCH(QByteArray, document);
        m_Server.serve(kConfigurationPath,
                       configuration({package("Broken", linuxBuild("b/package.json")),
                                      package("Fine", linuxBuild("f/package.json"))}));
        m_Server.serve("/launcher/b/package.json", document);
        m_Server.serve("/launcher/f/package.json", "{\"version\": \"3\", \"files\": []}");
        THarness harness(m_Server);
        QSignalSpy finished(&harness.handler(),
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        harness.handler().requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        const auto& packages = harness.handler().getLauncherConfiguration()->getPackages();
        QVERIFY(!packages[0]->getConfiguration());
        QVERIFY(packages[1]->getConfiguration());
    }

    void serverRefusalMeansMaintenance_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("404") << 404 << QByteArray("gone");
        QTest::newRow("403") << 403 << QByteArray();
        QTest::newRow("empty body") << 200 << QByteArray();
        QTest::newRow("not json") << 200 << QByteArray("<html>maintenance</html>");
    }
    void serverRefusalMeansMaintenance()
    {
        // A local copy must not hide a configuration that the server withdrew on purpose.
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        const QByteArray local = configuration({package("Local", {})});
        QVERIFY(testsupport::writeBytes(localCopyPath(), local));
        TTestHttpRoute route;
        route.status = status;
        route.body = body;
        m_Server.setRoute(kConfigurationPath, route);
        THarness harness(m_Server);
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        QSignalSpy loaded(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationLoaded);
        harness.handler().requestMainConfiguration();
        QVERIFY(failed.wait(kWaitMs));
        QCOMPARE(loaded.count(), 0);
        QCOMPARE(testsupport::readBytes(localCopyPath()), local);
    }

    void unreachableServerFallsBackToLocalCopy()
    {
        QVERIFY(testsupport::writeBytes(localCopyPath(), configuration({package("Local", {})})));
        THarness harness(m_Server, 10000, false, refusedUrl());
        QVERIFY(harness.loadMainConfiguration());
        QVERIFY(harness.handler().isLocalConfiguration());
        QCOMPARE(nameOf(harness.handler(), 0), QString("Local"));
        QCOMPARE(harness.handler().getLauncherConfiguration()->getBaseUrl(),
                 QUrl::fromLocalFile(testsupport::kestrunDataDirectory() + "/"));
    }

    void unreachableServerWithoutLocalCopy()
    {
        THarness harness(m_Server, 10000, false, refusedUrl());
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        harness.handler().requestMainConfiguration();
        QVERIFY(failed.wait(kWaitMs));
        QVERIFY(!harness.handler().getLauncherConfiguration());
    }

    void damagedLocalCopyIsADiskFailure()
    {
        QVERIFY(testsupport::writeBytes(localCopyPath(), "{\"packages\": ["));
        THarness harness(m_Server, 10000, false, refusedUrl());
        QSignalSpy disk(&harness.handler(), &TLauncherConfigurationHandler::diskAccessFailed);
        harness.handler().requestMainConfiguration();
        QVERIFY(disk.wait(kWaitMs));
        QVERIFY(!disk.first().first().toString().isEmpty());
        QVERIFY(!harness.handler().getLauncherConfiguration());
    }

    void packageDocumentsForMatchingBuildsOnly()
    {
        const QByteArray document =
            "{\"launcher\": " + package("Launcher", linuxBuild("self/package.json")) +
            ", \"packages\": [" +
            package("WithAssets", linuxBuild("a/package.json", "a/assets.json")) + ", " +
            package("NoAssets", linuxBuild("b/package.json")) + ", " +
            package("Windows", "{\"os\": \"windows\", \"architecture\": \"x86_64\", "
                               "\"url\": \"w/package.json\"}") +
            ", " + package("BrokenAssets", linuxBuild("d/package.json", "d/assets.json")) + "]}";
        m_Server.serve(kConfigurationPath, document);
        m_Server.serve("/launcher/self/package.json", "{\"version\": \"0.0.14\", \"files\": []}");
        m_Server.serve("/launcher/a/package.json", "{\"version\": \"12\", \"files\": []}");
        m_Server.serve("/launcher/a/assets.json", "{\"version\": 5}");
        m_Server.serve("/launcher/b/package.json", "{\"version\": \"3\", \"files\": []}");
        m_Server.serve("/launcher/d/package.json", "{\"version\": \"4\", \"files\": []}");
        TTestHttpRoute missing;
        missing.status = 404;
        m_Server.setRoute("/launcher/d/assets.json", missing);

        THarness harness(m_Server);
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy finished(&handler,
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        handler.requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        QCOMPARE(finished.count(), 1);

        const auto& packages = handler.getLauncherConfiguration()->getPackages();
        QCOMPARE(handler.getLauncherConfiguration()
                     ->getLauncherPackage()
                     ->getConfiguration()
                     ->getVersion(),
                 QString("0.0.14"));
        QCOMPARE(packages[0]->getConfiguration()->versionLabel(), QString("P12 A5"));
        QCOMPARE(packages[1]->getConfiguration()->versionLabel(), QString("P3 A?"));
        QVERIFY(!packages[2]->getConfiguration());
        QCOMPARE(m_Server.requestCount("/launcher/w/package.json"), 0);
        QVERIFY(!packages[3]->getConfiguration()); // its asset document failed
    }

    void sharedFailingDocumentStillFinishes()
    {
        // Two builds waiting for one document that fails: both must give up, or the launcher
        // would wait for package documents forever.
        const QByteArray document =
            configuration({package("One", linuxBuild("same/package.json")),
                           package("Two", linuxBuild("same/package.json"))});
        m_Server.serve(kConfigurationPath, document);
        THarness harness(m_Server);
        QSignalSpy finished(&harness.handler(),
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        harness.handler().requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        QCOMPARE(finished.count(), 1);
    }

    void noMatchingBuildFinishesAtOnce()
    {
        m_Server.serve(kConfigurationPath, configuration({package("Nothing", {})}));
        THarness harness(m_Server);
        QSignalSpy finished(&harness.handler(),
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        harness.handler().requestPackageConfigurations();
        QCOMPARE(finished.count(), 1); // synchronously
    }

    void localConfigurationReadsInstalledDocuments()
    {
        const QByteArray local =
            "{\"launcher\": " + package("Launcher", linuxBuild("self/package.json")) +
            ", \"packages\": [" + package("Complete", linuxBuild("x/package.json")) + ", " +
            package("NoAssets", linuxBuild("y/package.json")) + "]}";
        QVERIFY(testsupport::writeBytes(localCopyPath(), local));
        const QString packages = testsupport::kestrunDataDirectory() + "/packages/";
        QVERIFY(testsupport::writeBytes(packages + "Complete/package.json",
                                        "{\"version\": \"9\", \"files\": []}"));
        QVERIFY(testsupport::writeBytes(packages + "Complete/assets.json", "{\"version\": \"2\"}"));
        QVERIFY(testsupport::writeBytes(packages + "NoAssets/package.json",
                                        "{\"version\": \"8\", \"files\": []}"));

        THarness harness(m_Server, 10000, false, refusedUrl());
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy finished(&handler,
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        QVERIFY(handler.isLocalConfiguration());
        handler.requestPackageConfigurations();
        QVERIFY(waitFor(finished));

        const auto& configuration = *handler.getLauncherConfiguration();
        QCOMPARE(configuration.getPackages()[0]->getConfiguration()->versionLabel(),
                 QString("P9 A2"));
        QVERIFY(!configuration.getPackages()[1]->getConfiguration());
        QVERIFY(!configuration.getLauncherPackage()->getConfiguration()); // never checked offline
    }

    void nocache_data()
    {
        QTest::addColumn<bool>("enabled");
        QTest::newRow("on") << true;
        QTest::newRow("off") << false;
    }
    void nocache()
    {
        QFETCH(bool, enabled);
        THarness harness(m_Server, 10000, enabled);
        const QUrl url("https://cdn.example/live/package.json?build=7");
        const QUrl first = harness.handler().appendNocache(url);
        const QUrl second = harness.handler().appendNocache(url);
        QVERIFY(harness.handler().appendNocache(QUrl()).isEmpty());
        if (!enabled) {
            QCOMPARE(first, url);
            return;
        }
        QVERIFY(first != second);
        const QRegularExpression pattern("^build=7&nocache=[A-Za-z0-9]{32}$");
        QVERIFY2(pattern.match(first.query()).hasMatch(), qPrintable(first.query()));
        QVERIFY2(pattern.match(second.query()).hasMatch(), qPrintable(second.query()));
        QCOMPARE(first.adjusted(QUrl::RemoveQuery), url.adjusted(QUrl::RemoveQuery));
    }

    void packageDocumentsCarryNocache()
    {
        // Every start asks past the CDN's cache for the package documents.
        m_Server.serve(kConfigurationPath,
                       configuration({package("Live", linuxBuild("p.json", "a.json"))}));
        m_Server.serve("/launcher/p.json", "{\"version\": \"2\", \"files\": []}");
        m_Server.serve("/launcher/a.json", "{\"version\": \"3\"}");
        THarness harness(m_Server, 10000, true);
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy finished(&handler,
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        handler.requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        QCOMPARE(nameOf(handler, 0), QString("Live"));
        QCOMPARE(handler.getLauncherConfiguration()
                     ->getPackages()[0]
                     ->getConfiguration()
                     ->versionLabel(),
                 QString("P2 A3"));
        int withNocache = 0;
        for (const auto& request : m_Server.requests())
            withNocache += request.path.contains("?nocache=") ? 1 : 0;
        QCOMPARE(withNocache, 2);
        QVERIFY(!m_Server.requests().first().path.contains("nocache")); // not the configuration
    }

    void hints()
    {
        m_Server.serve(
            kConfigurationPath,
            configuration({}, ", \"hints\": \"" + m_Server.url("/hints.json").toEncoded() + "\""));
        m_Server.serve("/hints.json", "[{\"richText\": \"listed\", \"emergency\": false},"
                                      " {\"richText\": \"shown\"}]");
        THarness harness(m_Server);
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy hint(&handler, &TLauncherConfigurationHandler::hintAreaDataReceived);
        QSignalSpy all(&handler, &TLauncherConfigurationHandler::hintsAreaDataReceived);
        QVERIFY(harness.loadMainConfiguration());
        harness.pool().queueDownload(handler.getLauncherConfiguration()->getHintsUrl());
        QVERIFY(hint.wait(kWaitMs));
        QVERIFY(handler.getCurrentHint().RichText.endsWith("shown"));
        QCOMPARE(all.count(), 1);
        QCOMPARE(handler.getHints().size(), size_t(2));
    }

    void hintsWithoutDisplayableHintStaySilent()
    {
        m_Server.serve(
            kConfigurationPath,
            configuration({}, ", \"hints\": \"" + m_Server.url("/hints.json").toEncoded() + "\""));
        m_Server.serve("/hints.json", "[{\"richText\": \"listed\", \"emergency\": false}]");
        THarness harness(m_Server);
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy hint(&handler, &TLauncherConfigurationHandler::hintAreaDataReceived);
        QSignalSpy arrived(&harness.pool(), &shared::TDownloadPool::success);
        QVERIFY(harness.loadMainConfiguration());
        harness.pool().queueDownload(handler.getLauncherConfiguration()->getHintsUrl());
        QVERIFY(arrived.wait(kWaitMs));
        QCOMPARE(hint.count(), 0);
        QVERIFY(handler.getHints().empty());
    }

    void signedChain_data()
    {
        QTest::addColumn<QString>("served");
        QTest::addColumn<QString>("refusal"); // empty: everything served is taken
        QTest::newRow("newer serial, pinned document") << "current"
                                                       << "";
        QTest::newRow("older serial, validly signed") << "replayed"
                                                      << "serial 4 is older";
        QTest::newRow("expired") << "expired"
                                 << "it expired on";
        QTest::newRow("signed without pins") << "unbound"
                                             << "carries no serial";
        QTest::newRow("another package's signed document")
            << "swapped"
            << "digest differs from the one the launcher configuration pins";
    }
    // Catches a signature that stops forgery but not replay: an older or stale configuration, or
    // another validly signed document served in place of the one named, was taken.
    void signedChain()
    {
        QFETCH(QString, served);
        QFETCH(QString, refusal);
        const QByteArray game = "{\"version\": \"2\", \"files\": []}";
        const QByteArray other = "{\"version\": \"9\", \"files\": []}";
        const QByteArray packages =
            "{\"packages\": [" + package("Live", linuxBuild("live/package.json")) + "]";
        const auto bound = [&](qint64 serial, const QDateTime& expires) {
            return packages + trust(serial, {pin("live/package.json", game)}, expires) + "}";
        };
        const QDateTime later = QDateTime::currentDateTimeUtc().addDays(1);
        // Accepted earlier: the local copy and its serial, as the launcher stored them.
        const QByteArray accepted = bound(5, later);
        QVERIFY(testsupport::writeBytes(localCopyPath(), accepted));
        QVERIFY(testsupport::writeBytes(localCopyPath() + ".sig", m_Studio.sign(accepted)));
        QVERIFY(testsupport::writeBytes(serialPath(), "5\n"));
        const QMap<QString, QByteArray> remote = {
            {"current", bound(6, later)},
            {"replayed", bound(4, later)},
            {"expired", bound(7, QDateTime::currentDateTimeUtc().addSecs(-60))},
            {"unbound", packages + "}"},
            {"swapped", bound(6, later)},
        };
        m_Studio.publish(m_Server, kConfigurationPath, remote.value(served));
        m_Studio.publish(m_Server, "/launcher/live/package.json",
                         served == "swapped" ? other : game);

        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {}, m_Studio.settings());
        QSignalSpy finished(&harness.handler(),
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(harness.loadMainConfiguration());
        const bool remoteTaken = served == "current" || served == "swapped";
        QCOMPARE(harness.handler().isLocalConfiguration(), !remoteTaken);
        QCOMPARE(testsupport::readBytes(serialPath()).trimmed(),
                 QByteArray(remoteTaken ? "6" : "5"));
        harness.handler().requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        const auto& live = harness.handler().getLauncherConfiguration()->getPackages().at(0);
        QCOMPARE(bool(live->getConfiguration()), served == "current");
        if (!refusal.isEmpty())
            QVERIFY2(messages.contains(refusal), qPrintable(refusal));
    }

    void documentsComeFromTheFirstPlaceThatServesThem_data()
    {
        QTest::addColumn<QString>("primary"); // what the primary serves as the documents
        QTest::addColumn<bool>("onMirror");   // the mirror serves the right ones
        QTest::newRow("the right documents") << "right" << true;
        QTest::newRow("nothing") << "nothing" << true;
        QTest::newRow("another package's signed documents") << "swapped" << true;
        QTest::newRow("damaged documents") << "damaged" << true;
        QTest::newRow("nothing, nor does the mirror") << "nothing" << false;
    }
    // Catches documents asked of one place only: with the primary's documents missing or wrong,
    // the build stayed without its document and the hints unshown although a mirror named in
    // the signed configuration served the very ones it pins.
    void documentsComeFromTheFirstPlaceThatServesThem()
    {
        QFETCH(QString, primary);
        QFETCH(bool, onMirror);
        // An earlier test's serial would refuse this configuration's.
        QFile::remove(serialPath());
        TTestHttpServer mirror;
        QVERIFY(mirror.start());
        const QByteArray game = "{\"version\": \"2\", \"files\": []}";
        const QByteArray hints = "[{\"richText\": \"from wherever\"}]";
        const QByteArray document =
            "{\"packages\": [" + package("Live", linuxBuild("live/package.json")) +
            "], \"hints\": \"" + m_Server.url("/launcher/hints.json").toEncoded() +
            "\", \"mirrors\": [\"" + mirror.url("/launcher/").toEncoded() + "\"]" +
            trust(1, {pin("live/package.json", game), pin("hints.json", hints)}) + "}";
        m_Studio.publish(m_Server, kConfigurationPath, document);
        if (primary == "right" || primary == "swapped") {
            const bool right = primary == "right";
            m_Studio.publish(m_Server, "/launcher/live/package.json",
                             right ? game : QByteArray("{\"version\": \"9\", \"files\": []}"));
            m_Studio.publish(m_Server, "/launcher/hints.json", right ? hints : QByteArray("[]"));
        } else if (primary == "nothing") {
            // The server keeps the routes of earlier rows.
            TTestHttpRoute missing;
            missing.status = 404;
            for (const QString path : {"/launcher/live/package.json",
                                       "/launcher/live/package.json.sig", "/launcher/hints.json"})
                m_Server.setRoute(path, missing);
        } else if (primary == "damaged") {
            m_Server.serve("/launcher/live/package.json", game + " ");
            m_Server.serve("/launcher/live/package.json.sig", m_Studio.sign(game));
            m_Server.serve("/launcher/hints.json", hints + " ");
        }
        if (onMirror) {
            m_Studio.publish(mirror, "/launcher/live/package.json", game);
            mirror.serve("/launcher/hints.json", hints);
        }
        QSignalSpy askedOfMirror(&mirror, &TTestHttpServer::requestReceived);

        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {}, m_Studio.settings());
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy finished(&handler,
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QSignalSpy hint(&handler, &TLauncherConfigurationHandler::hintsAreaDataReceived);
        QVERIFY(harness.loadMainConfiguration());
        QVERIFY(!handler.isLocalConfiguration());
        handler.requestPackageConfigurations();
        harness.pool().queueDownload(handler.getLauncherConfiguration()->getHintsUrl());
        QVERIFY(waitFor(finished));
        const auto& live = handler.getLauncherConfiguration()->getPackages().at(0);
        QCOMPARE(bool(live->getConfiguration()), onMirror);
        if (onMirror) {
            QVERIFY(waitFor(hint));
            QVERIFY(handler.getCurrentHint().RichText.endsWith("from wherever"));
        }
        if (primary == "right")
            QCOMPARE(askedOfMirror.count(), 0);
        else
            QVERIFY(messages.contains("failed on base " + m_Server.url("/").toString()));
        if (!onMirror)
            QVERIFY(messages.contains("failed on base " + mirror.url("/").toString()));
    }

    void keySettingThatIsNotOneKeyRefusesEverything_data()
    {
        QTest::addColumn<QByteArray>("value");
        QTest::newRow("two keys, read as a list") << QByteArray("KEY, KEY");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("not base64 of a key") << QByteArray("not-a-key");
    }
    // Catches a key setting that switched the checks off: a comma made QSettings read a list,
    // which came out as no key at all, and the unsigned configuration was taken.
    void keySettingThatIsNotOneKeyRefusesEverything()
    {
        QFETCH(QByteArray, value);
        const QByteArray key = m_Studio.publicKey();
        m_Server.serve(kConfigurationPath, configuration({package("Live", {})}));
        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {},
                         "[SECURITY]\ndocumentPublicKey=" + value.replace("KEY", key) + "\n");
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        harness.handler().requestMainConfiguration();
        QVERIFY(waitFor(failed));
        QVERIFY(!harness.handler().getLauncherConfiguration());
        QVERIFY(messages.contains("every document is refused"));
    }

    void configurationBelongsWhereItIsServed_data()
    {
        QTest::addColumn<QString>("address"); // named by the configuration; "served": its own
        QTest::addColumn<QString>("channel"); // named by the configuration
        QTest::addColumn<QString>("pinned");  // by the launcher's settings
        QTest::addColumn<QString>("refusal"); // empty: taken
        QTest::newRow("its own address") << "served"
                                         << ""
                                         << ""
                                         << "";
        QTest::newRow("another tree's address")
            << "/beta/launcher/qormetadata.json"
            << ""
            << ""
            << "it belongs at http://127.0.0.1:1/beta/launcher/qormetadata.json, not at";
        QTest::newRow("the channel the settings pin") << ""
                                                      << "live"
                                                      << "live"
                                                      << "";
        QTest::newRow("another channel") << ""
                                         << "beta"
                                         << "live"
                                         << "it belongs to the channel 'beta', and the settings "
                                            "pin the channel 'live'";
        QTest::newRow("its own address, another channel") << "served"
                                                          << "beta"
                                                          << "live"
                                                          << "it belongs to the channel 'beta'";
        QTest::newRow("no channel where the settings pin one")
            << "served"
            << ""
            << "live"
            << "it names no channel, and the settings pin the channel 'live'";
        QTest::newRow("a channel alone, the settings pin none")
            << ""
            << "beta"
            << ""
            << "it belongs to the channel 'beta' and names no address, and the settings pin no "
               "channel";
        // Signed before configurations named their place: taken only while nothing is pinned.
        QTest::newRow("neither, the settings pin nothing") << ""
                                                           << ""
                                                           << ""
                                                           << "";
    }
    // Catches a configuration taken wherever it is served: a beta tree signed with the same key
    // and served at the live address was taken, and the launcher installed the beta build.
    void configurationBelongsWhereItIsServed()
    {
        QFETCH(QString, address);
        QFETCH(QString, channel);
        QFETCH(QString, pinned);
        QFETCH(QString, refusal);
        const QString served = m_Server.url(kConfigurationPath).toString();
        // Accepted earlier from where it belongs.
        const QByteArray local = boundConfiguration("Local", 5, place(served, pinned));
        QVERIFY(testsupport::writeBytes(localCopyPath(), local));
        QVERIFY(testsupport::writeBytes(localCopyPath() + ".sig", m_Studio.sign(local)));
        QVERIFY(testsupport::writeBytes(serialPath(), "5\n"));
        const QString named = address == "served"
                                  ? served
                                  : (address.isEmpty() ? address : "http://127.0.0.1:1" + address);
        m_Studio.publish(m_Server, kConfigurationPath,
                         boundConfiguration("Remote", 6, place(named, channel)));

        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {},
                         m_Studio.settings() + (pinned.isEmpty()
                                                    ? QByteArray()
                                                    : "channel=" + pinned.toUtf8() + "\n"));
        QVERIFY(harness.loadMainConfiguration());
        QCOMPARE(nameOf(harness.handler(), 0), QString(refusal.isEmpty() ? "Remote" : "Local"));
        if (!refusal.isEmpty())
            QVERIFY2(messages.contains("Launcher configuration refused: " + served + " " + refusal),
                     qPrintable(messages.line("refused")));
        if (address.isEmpty() && channel.isEmpty())
            QVERIFY(messages.contains("names neither its address nor a channel"));
    }

    void lostSerialFileKeepsTheFloor_data()
    {
        QTest::addColumn<QString>("loss");
        QTest::newRow("deleted") << "deleted";
        QTest::newRow("emptied") << "emptied";
        QTest::newRow("unreadable") << "unreadable";
        QTest::newRow("a folder in its place") << "folder";
    }
    // Catches a rollback floor that rested on the serial file alone: with that file lost, an
    // older signed configuration was taken although the signed local copy beside it carries a
    // higher serial, and the game went back a version.
    void lostSerialFileKeepsTheFloor()
    {
        QFETCH(QString, loss);
        const QByteArray local = boundConfiguration("Local", 200);
        QVERIFY(testsupport::writeBytes(localCopyPath(), local));
        QVERIFY(testsupport::writeBytes(localCopyPath() + ".sig", m_Studio.sign(local)));
        QFile::remove(serialPath());
        QDir(serialPath()).removeRecursively();
        if (loss == "emptied")
            QVERIFY(testsupport::writeBytes(serialPath(), ""));
        if (loss == "unreadable")
            QVERIFY(testsupport::writeBytes(serialPath(), "two hundred\n"));
        if (loss == "folder")
            QVERIFY(QDir().mkpath(serialPath()));
        m_Studio.publish(m_Server, kConfigurationPath, boundConfiguration("Remote", 100));

        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {}, m_Studio.settings());
        QVERIFY(harness.loadMainConfiguration());
        QDir(serialPath()).removeRecursively();
        QVERIFY(harness.handler().isLocalConfiguration());
        QCOMPARE(nameOf(harness.handler(), 0), QString("Local"));
        QVERIFY2(messages.contains("its serial 100 is older than the serial 200 already accepted"),
                 qPrintable(messages.line("refused")));
    }

    // Catches a key group in another case read as no key: "[security]" let an unsigned
    // configuration through.
    void keyGroupInAnotherCaseStillRequiresSignatures()
    {
        m_Server.serve(kConfigurationPath, configuration({package("Unsigned", {})}));
        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 10000, false, {},
                         m_Studio.settings().replace("[SECURITY]", "[security]"));
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        harness.handler().requestMainConfiguration();
        QVERIFY(waitFor(failed));
        QVERIFY(!harness.handler().getLauncherConfiguration());
        QVERIFY(messages.contains("Settings group [security] taken as [SECURITY]"));
    }

    void endlessSmallDocumentsAreCut_data()
    {
        QTest::addColumn<QString>("path");
        QTest::newRow("configuration") << kConfigurationPath;
        QTest::newRow("signature") << kConfigurationPath + ".sig";
    }
    // Catches a document read without a bound: an endless signature grew the launcher past
    // 2.5 GiB before anything refused it.
    void endlessSmallDocumentsAreCut()
    {
        QFETCH(QString, path);
        QVERIFY(testsupport::resetPeakResident());
        m_Studio.publish(m_Server, kConfigurationPath, configuration({package("Live", {})}));
        TTestHttpRoute endless;
        endless.body = QByteArray(64 << 10, 'A');
        endless.streamBytes = TTestHttpRoute::kEndless;
        m_Server.setRoute(path, endless);
        THarness harness(m_Server, 60000, false, {}, m_Studio.settings());
        QSignalSpy failed(&harness.handler(),
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        harness.handler().requestMainConfiguration();
        QVERIFY(waitFor(failed));
        const qint64 peak = testsupport::peakResidentKiB();
        QVERIFY2(peak < testsupport::kMemoryCeilingKiB, qPrintable(QString::number(peak)));
    }

    void documentsComeGzippedWhereAskedFor_data()
    {
        QTest::addColumn<bool>("signedTree");
        QTest::newRow("unsigned tree") << false;
        QTest::newRow("signed tree") << true;
    }
    // Catches a request that leaves the encoding to Qt, which asks for gzip and inflates without
    // bound; a gzip'ed document the launcher cannot read; and a document asked for gzip'ed whose
    // limit a few megabytes of gzip would fill with hundreds of megabytes. The server compresses
    // what it is asked to, as a CDN does.
    void documentsComeGzippedWhereAskedFor()
    {
        QFETCH(bool, signedTree);
        QFile::remove(serialPath());
        const QByteArray game = "{\"version\": \"2\", \"files\": []}";
        const QByteArray document =
            configuration({package("Live", linuxBuild("live/package.json"))},
                          signedTree ? trust(1, {pin("live/package.json", game)}) : QByteArray());
        m_Studio.publish(m_Server, kConfigurationPath, document);
        m_Server.setRoute(kConfigurationPath, testsupport::gzipRoute(testsupport::gzip(document)));
        m_Studio.publish(m_Server, "/launcher/live/package.json", game);
        if (signedTree)
            m_Server.setRoute("/launcher/live/package.json",
                              testsupport::gzipRoute(testsupport::gzip(game)));
        THarness harness(m_Server, 10000, false, {},
                         signedTree ? m_Studio.settings() : QByteArray());
        QSignalSpy finished(&harness.handler(),
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        // The server keeps the requests of earlier tests.
        const int earlier = m_Server.requests().size();
        QVERIFY(harness.loadMainConfiguration());
        QVERIFY(!harness.handler().isLocalConfiguration());
        harness.handler().requestPackageConfigurations();
        QVERIFY(waitFor(finished));
        QVERIFY(
            harness.handler().getLauncherConfiguration()->getPackages().at(0)->getConfiguration());
        QMap<QString, QByteArray> asked;
        for (const auto& request : m_Server.requests().mid(earlier))
            asked.insert(request.path.section('?', 0, 0), request.header("Accept-Encoding"));
        QMap<QString, QByteArray> expected{
            {kConfigurationPath, "gzip"},
            {"/launcher/live/package.json", signedTree ? "gzip" : "identity"}};
        if (signedTree) {
            expected.insert(kConfigurationPath + ".sig", "identity");
            expected.insert("/launcher/live/package.json.sig", "identity");
        }
        QCOMPARE(asked, expected);
    }

    void gzipBombsFailInLittleMemory_data()
    {
        QTest::addColumn<bool>("signedTree");
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("reason");
        const QString inflated = "bytes expected once inflated";
        const QString unasked = "which was not asked for";
        QTest::newRow("configuration") << false << kConfigurationPath << inflated;
        QTest::newRow("configuration's signature")
            << true << kConfigurationPath + ".sig" << unasked;
        QTest::newRow("package document") << false << "/launcher/live/package.json" << unasked;
        QTest::newRow("pinned package document")
            << true << "/launcher/live/package.json" << inflated;
        QTest::newRow("package document's signature")
            << true << "/launcher/live/package.json.sig" << unasked;
    }
    // Qt inflated gzip answers by itself before any limit saw them: ten megabytes that inflate to
    // ten gigabytes took the launcher to gigabytes of memory, whatever the document's limit.
    void gzipBombsFailInLittleMemory()
    {
        QFETCH(bool, signedTree);
        QFETCH(QString, path);
        QFETCH(QString, reason);
        QFile::remove(serialPath());
        const QByteArray game = "{\"version\": \"2\", \"files\": []}";
        m_Studio.publish(
            m_Server, kConfigurationPath,
            configuration({package("Live", linuxBuild("live/package.json"))},
                          signedTree ? trust(1, {pin("live/package.json", game)}) : QByteArray()));
        m_Studio.publish(m_Server, "/launcher/live/package.json", game);
        m_Server.setRoute(path, testsupport::gzipRoute(testsupport::gzipBomb(qint64(10) << 30)));
        const testsupport::TMessageCapture messages;
        THarness harness(m_Server, 60000, false, {},
                         signedTree ? m_Studio.settings() : QByteArray());
        TLauncherConfigurationHandler& handler = harness.handler();
        QSignalSpy loaded(&handler, &TLauncherConfigurationHandler::mainConfigurationLoaded);
        QSignalSpy failed(&handler,
                          &TLauncherConfigurationHandler::mainConfigurationDownloadFailed);
        QSignalSpy finished(&handler,
                            &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished);
        QVERIFY(testsupport::resetPeakResident());

        handler.requestMainConfiguration();
        const bool configurationItself = path.startsWith(kConfigurationPath);
        QSignalSpy& end = configurationItself ? failed : finished;
        if (!configurationItself) {
            QVERIFY(waitFor(loaded));
            handler.requestPackageConfigurations();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!end.isEmpty() || testsupport::peakResidentKiB() >
                                                       testsupport::kMemoryCeilingKiB,
                                 kWaitMs);
        const qint64 peak = testsupport::peakResidentKiB();
        qInfo("peak %lld KiB", peak);
        QVERIFY2(peak < testsupport::kMemoryCeilingKiB, qPrintable(QString::number(peak)));
        QCOMPARE(end.count(), 1);
        QVERIFY2(messages.contains(reason), qPrintable(reason));
        if (configurationItself)
            QVERIFY(!handler.getLauncherConfiguration());
        else
            QVERIFY(!handler.getLauncherConfiguration()->getPackages().at(0)->getConfiguration());
    }

private:
    static QString serialPath()
    {
        return testsupport::kestrunDataDirectory() + "/launchermetadata.serial";
    }

    TTestHttpServer m_Server;
    TStudio m_Studio;
};

QTEST_GUILESS_MAIN(TestLauncherConfigurationHandler)
#include "tst_launcherconfigurationhandler.moc"
