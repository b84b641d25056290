// One broken CDN is not a failed install: the launcher configuration names a mirror of the tree,
// nginx serves the tree as the primary and a test server serves it as a mirror that fails in one
// way or another, and the real launcher installs byte-identical all the same.
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QtTest>

using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kTimeoutMs = 240000;

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

} // namespace

class TestMirrors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QString output;
        m_World = TPublishedGame::pseudoRandom(32 << 20, 11);
        QVERIFY2(m_Game.publishVersion("1", m_World, output), qPrintable(output));
        m_pPrimary = std::make_unique<TNginxServer>(m_Game.cdn());
        QVERIFY2(m_pPrimary->start(), qPrintable(m_pPrimary->error()));
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pPrimary->url(TPublishedGame::kConfigurationPath)) +
            "stallTimeout=5\n"));
        m_HealthySeconds = install(QString());
        QVERIFY(m_HealthySeconds > 0);
    }

    void installCompletesWhateverTheMirrorDoes_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("refuses connections") << "refused";
        QTest::newRow("answers 500 for half the bodies") << "500";
        QTest::newRow("serves corrupt bytes") << "corrupt";
        QTest::newRow("stalls") << "stall";
    }
    void installCompletesWhateverTheMirrorDoes()
    {
        QFETCH(QString, fault);
        TTestHttpServer mirror;
        QVERIFY(mirror.start());
        int body = 0;
        QDirIterator files(m_Game.cdn(), QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next().mid(m_Game.cdn().size());
            TTestHttpRoute route;
            route.body = readBytes(m_Game.cdn() + path);
            if (path.contains("/data/") && body++ % 2 == 0) {
                if (fault == "500")
                    route.status = 500;
                else if (fault == "corrupt")
                    route.body[route.body.size() / 2] = char(route.body[route.body.size() / 2] ^ 1);
                else if (fault == "stall")
                    route.stallAfterBytes = route.body.size() / 2;
            }
            mirror.setRoute(path, route);
        }
        QUrl folder = mirror.url("/launcher/");
        if (fault == "refused") {
            QTcpServer probe;
            QVERIFY(probe.listen(QHostAddress::LocalHost));
            folder.setPort(probe.serverPort());
        }

        const double seconds = install(folder.toString());
        QVERIFY(seconds > 0);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(log.contains("failed on base " + folder.resolved(QUrl("/")).toEncoded()),
                 log.right(3000).constData());
        // Scripts following the install learn where each failure came from.
        const QByteArray root = folder.resolved(QUrl("/")).toEncoded();
        QVERIFY2(m_ProgressLines.contains("\"event\":\"base-failed\"") &&
                     m_ProgressLines.contains("\"base\":\"" + root + "\""),
                 m_ProgressLines.right(2000).constData());
        qInfo("Mirror that %s: install took %.1f s, %.2f times the time with one healthy origin",
              qPrintable(fault), seconds, seconds / m_HealthySeconds);
    }

    // Catches documents asked of the primary only: a primary that serves the configuration but
    // none of the documents or bodies it names left the player without the game although the
    // mirror it names had them all.
    void everythingButTheConfigurationComesFromTheMirror()
    {
        QString output;
        const QUrl mirror = m_pPrimary->url("/launcher/");
        QVERIFY2(m_Game.configure("1", output, {"--mirror", mirror.toString()}),
                 qPrintable(output));
        TTestHttpServer primary;
        QVERIFY(primary.start());
        primary.serve(TPublishedGame::kConfigurationPath,
                      readBytes(m_Game.cdn() + TPublishedGame::kConfigurationPath));
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(primary.url(TPublishedGame::kConfigurationPath)) +
            "stallTimeout=5\n"));
        const auto restore = qScopeGuard([this] {
            m_Launcher.writeSettings(
                TLauncherInstall::settingsFor(m_pPrimary->url(TPublishedGame::kConfigurationPath)) +
                "stallTimeout=5\n");
        });

        const double seconds = install(QString(), false);
        QVERIFY(seconds > 0);
        const QByteArray log = readBytes(TLauncherInstall::logFilePath());
        QVERIFY2(log.contains("failed on base " + primary.url("/").toEncoded()),
                 log.right(3000).constData());
        // The documents' failures too, before any installation starts.
        QVERIFY2(m_ProgressLines.contains("\"base\":\"" + primary.url("/").toEncoded() +
                                          "\",\"event\":\"base-failed\",\"reason\""),
                 m_ProgressLines.left(2000).constData());
        qInfo("Primary without documents and bodies: install took %.1f s, %.2f times the time "
              "with one healthy origin",
              seconds, seconds / m_HealthySeconds);
    }

private:
    // Installs afresh with the configuration naming Mirror (none when empty), or as configured
    // already; the seconds it took, or -1 when it did not end well or not byte-identical.
    double install(const QString& Mirror, bool Configure = true)
    {
        QString output;
        if (Configure && !m_Game.configure("1", output, {"--mirror", Mirror})) {
            qWarning().noquote() << output;
            return -1;
        }
        QDir(packageDirectory()).removeRecursively();
        QFile::remove(TLauncherInstall::logFilePath());
        QElapsedTimer clock;
        clock.start();
        QProcess& launcher = m_Launcher.start({"--first-launch", "--progress-json"});
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (!ended.wait(kTimeoutMs) || launcher.exitStatus() != QProcess::NormalExit ||
            launcher.exitCode() != 0) {
            qWarning().noquote() << readBytes(TLauncherInstall::logFilePath()).right(3000);
            return -1;
        }
        m_ProgressLines = launcher.readAllStandardOutput();
        const double seconds = double(clock.elapsed()) / 1000.0;
        if (readBytes(packageDirectory() + "/" + TPublishedGame::kWorld) != m_World)
            return -1;
        return seconds;
    }

    TPublishedGame m_Game;
    QByteArray m_World;
    std::unique_ptr<TNginxServer> m_pPrimary;
    TLauncherInstall m_Launcher;
    double m_HealthySeconds = 0;
    // What --progress-json printed during the latest install.
    QByteArray m_ProgressLines;
};

QTEST_GUILESS_MAIN(TestMirrors)
#include "tst_mirrors.moc"
