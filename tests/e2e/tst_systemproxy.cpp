// The real launcher behind the desktop's proxy: the CDN's host name exists only behind a proxy on
// loopback, so the launcher installs and starts the game only when it sends every request there,
// and a host listed in no_proxy never reaches the proxy.
#include "buildpaths.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"
#include "testhttpproxy.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;
using testsupport::TTestHttpProxy;

namespace {

constexpr int kTimeoutMs = 120000;
// A name no resolver knows (.test is reserved): only the proxy can reach it.
const QString kCdnHost = QStringLiteral("kestrun-cdn.test");
const QStringList kProxyVariables = {"http_proxy", "https_proxy", "no_proxy", "all_proxy",
                                     "HTTP_PROXY", "HTTPS_PROXY", "NO_PROXY", "ALL_PROXY"};

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

} // namespace

class TestSystemProxy : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QVERIFY(m_Game.isValid());
        QString output;
        // Above the chunking threshold, so chunks travel through the proxy too.
        QVERIFY2(m_Game.publishVersion("1", TPublishedGame::pseudoRandom(6 << 20, 3), output),
                 qPrintable(output));
        m_pServer = std::make_unique<TNginxServer>(m_Game.cdn());
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        QVERIFY(m_Proxy.start());
        QVERIFY(m_Launcher.isValid());
        QUrl configuration = m_pServer->url(TPublishedGame::kConfigurationPath);
        configuration.setHost(kCdnHost);
        QVERIFY(m_Launcher.writeSettings(TLauncherInstall::settingsFor(configuration)));
    }

    void init()
    {
        for (const QString& name : kProxyVariables)
            qunsetenv(qPrintable(name));
        QDir(testsupport::kestrunDataDirectory()).removeRecursively();
        m_pServer->clearAccessLog();
        m_Proxy.clearForwarded();
    }

    void cleanup()
    {
        for (const QString& name : kProxyVariables)
            qunsetenv(qPrintable(name));
    }

    void followsTheDesktopProxySettings_data()
    {
        QTest::addColumn<QString>("noProxy");
        QTest::addColumn<bool>("throughProxy");
        // Catches a launcher that ignores the desktop's proxy: the host cannot be reached.
        QTest::newRow("http_proxy") << QString() << true;
        // Catches a no_proxy list read as "no proxy for anything".
        QTest::newRow("no_proxy names other hosts") << "example.org,other.test" << true;
        // Catches a launcher that sends a host through the proxy although no_proxy names it.
        QTest::newRow("no_proxy names the CDN") << "example.org," + kCdnHost << false;
    }
    void followsTheDesktopProxySettings()
    {
        QFETCH(QString, noProxy);
        QFETCH(bool, throughProxy);
        qputenv("http_proxy", m_Proxy.address().toLatin1());
        if (!noProxy.isEmpty())
            qputenv("no_proxy", noProxy.toLatin1());

        const int status = runLauncher({QStringLiteral("--first-launch")});
        const QStringList forwarded = m_Proxy.forwarded();
        const QList<testsupport::TAccessLogEntry> served = m_pServer->accessLog();
        if (!throughProxy) {
            QCOMPARE(status, 1); // the name does not resolve without the proxy
            QVERIFY2(forwarded.isEmpty(), qPrintable(forwarded.join('\n')));
            QVERIFY(served.isEmpty());
            return;
        }
        QCOMPARE(status, 0);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, kTimeoutMs);
        QCOMPARE(readBytes(packageDirectory() + "/" + TPublishedGame::kWorld),
                 readBytes(m_Game.build() + "/" + TPublishedGame::kWorld));
        // Everything the server answered came through the proxy: documents and package data.
        QCOMPARE(forwarded.size(), served.size());
        const QString prefix = "GET http://" + kCdnHost + ":";
        for (const QString& request : forwarded)
            QVERIFY2(request.startsWith(prefix), qPrintable(request));
        QVERIFY2(forwarded.filter("/launcher/qormetadata.json").size() >= 1,
                 qPrintable(forwarded.join('\n')));
        QVERIFY2(forwarded.filter("/data/").size() >= 2, qPrintable(forwarded.join('\n')));
    }

private:
    int runLauncher(const QStringList& arguments) { return m_Launcher.run(arguments, kTimeoutMs); }

    // The client is started detached: its record may come a moment after the launcher ended.
    static int clientStarts()
    {
        return readBytes(packageDirectory() + "/democlient-runs.log").count('\n');
    }

    TPublishedGame m_Game;
    std::unique_ptr<TNginxServer> m_pServer;
    TTestHttpProxy m_Proxy;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestSystemProxy)
#include "tst_systemproxy.moc"
