// The real launcher binary against a local configuration server: from the configuration to the
// point where it is ready for action.
#include "launcherinstall.h"
#include "packagefixture.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

using testsupport::TLauncherInstall;
using testsupport::TTestHttpServer;

namespace {

constexpr int kTimeoutMs = 30000;

QByteArray logContent()
{
    return testsupport::readBytes(TLauncherInstall::logFilePath());
}

QByteArray configurationWithLauncherBuild()
{
    return "{\"launcher\": {\"name\": \"Launcher\", \"builds\": [{\"os\": \"linux\", "
           "\"architecture\": \"x86_64\", \"url\": \"self/package.json\"}]}, \"packages\": []}";
}

} // namespace

class TestLauncherStartup : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pServer->serve("/launcher/qormetadata.json", configurationWithLauncherBuild());
        m_pInstall = std::make_unique<TLauncherInstall>(); // ends the previous test's launcher
        QFile::remove(TLauncherInstall::logFilePath());    // so no test reads an earlier log
        QVERIFY(m_pInstall->isValid());
        QVERIFY(m_pInstall->writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json"))));
    }

    void sameVersionCleansUpAndGetsReady()
    {
        m_pServer->serve("/launcher/self/package.json", "{\"version\": \"0.0.14\", \"files\": []}");
        const QString oldFile = m_pInstall->directory() + "/libsomething.so.old";
        const QString keptFile = m_pInstall->directory() + "/notes.old.txt";
        const QString playersFile = m_pInstall->directory() + "/notes.old";
        QVERIFY(testsupport::writeBytes(oldFile, "left by a self-update"));
        QVERIFY(testsupport::writeBytes(keptFile, "not an old version"));
        QVERIFY(testsupport::writeBytes(playersFile, "no file of the launcher package"));
        // Only files of the installed launcher package have old versions to remove.
        QVERIFY(testsupport::writeBytes(
            m_pInstall->directory() + "/package.json",
            "{\"version\": \"0.0.14\", \"files\": [{\"localfile\": \"libsomething.so\"}]}"));

        m_pInstall->start();
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("onLauncherReadyForAction"), kTimeoutMs);
        const QByteArray log = logContent();
        QVERIFY2(log.contains("Info: cleanupOldLauncherVersion"), log);
        QVERIFY2(!log.contains("startSelfUpdate"), log);
        QVERIFY(!QFileInfo::exists(oldFile));
        QVERIFY(QFileInfo::exists(keptFile));
        QVERIFY(QFileInfo::exists(playersFile));

        // The configuration is kept for the next start without a server.
        QCOMPARE(
            testsupport::readBytes(testsupport::kestrunDataDirectory() + "/launchermetadata.json"),
            configurationWithLauncherBuild());
        const QFileInfo link(testsupport::kestrunDataDirectory() + "/launcher");
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), m_pInstall->executablePath());
    }

    void otherVersionAsksForSelfUpdate_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("selfUpdate");
        QTest::newRow("plain start") << QStringList{} << true;
        QTest::newRow("skip-selfupdate") << QStringList{"--skip-selfupdate"} << false;
        QTest::newRow("short option") << QStringList{"-s"} << false;
    }
    void otherVersionAsksForSelfUpdate()
    {
        QFETCH(QStringList, arguments);
        QFETCH(bool, selfUpdate);
        // The update's files are missing on the server: the update fails and the launcher goes
        // on with its own version instead of restarting.
        m_pServer->serve("/launcher/self/package.json",
                         "{\"version\": \"0.0.15\", \"files\": [{\"localfile\": \"extra.txt\", "
                         "\"url\": \"missing.bin\", \"unpackedsize\": 3, \"unpackedhash\": "
                         "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"}, "
                         "{\"localfile\": \"launcher\", \"executable\": true, \"url\": "
                         "\"missing.bin\", \"unpackedsize\": 3, \"unpackedhash\": "
                         "\"ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad\"}]}");
        // A regular file where the link belongs is replaced by the link.
        QFile::remove(testsupport::kestrunDataDirectory() + "/launcher");
        QVERIFY(testsupport::writeBytes(testsupport::kestrunDataDirectory() + "/launcher", "x"));

        m_pInstall->start(arguments);
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("onLauncherReadyForAction"), kTimeoutMs);
        const QByteArray log = logContent();
        QCOMPARE(log.contains("Info: startSelfUpdate  \"0.0.15\""), selfUpdate);
        QCOMPARE(log.contains("cleanupOldLauncherVersion"), !selfUpdate);
        QCOMPARE(log.contains("Updating Kestrun Online failed: Error 1"), selfUpdate);
        QVERIFY(!QFileInfo::exists(m_pInstall->directory() + "/extra.txt"));
        QVERIFY(QFileInfo(testsupport::kestrunDataDirectory() + "/launcher").isSymLink());
    }

    void firstLaunchInstallsAndStartsTheClient()
    {
        testsupport::TPackageFixture fixture(*m_pServer, "/live");
        // The client records how it was started, then ends.
        fixture.setFile(
            "bin/client",
            "#!/bin/sh\n"
            "printf '%s\\n' \"$PWD\" \"$LD_LIBRARY_PATH\" \"$@\" > \"$PWD/started.txt\"\n",
            true);
        fixture.setFile("bin/libgame.so", QByteArray(300000, 'L'));
        fixture.setExecutable("bin/client");
        fixture.setParameters({"--fullscreen", "--server=eu"});
        const QByteArray document = fixture.publish("7");
        m_pServer->serve("/launcher/qormetadata.json", fixture.launcherConfiguration("Live", true));
        QVERIFY(m_pInstall->writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/qormetadata.json")) +
            "[OPTIONS]\nskipVerification=false\n"));

        QProcess& launcher = m_pInstall->start({"--first-launch"});
        // Not waitForFinished: the server lives in this thread's event loop.
        QSignalSpy finished(&launcher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(finished.wait(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 0);

        const QString directory = testsupport::kestrunDataDirectory() + "/packages/Live";
        QCOMPARE(testsupport::readBytes(directory + "/package.json"), document);
        QVERIFY(!QFileInfo::exists(directory + "/partial-package.json"));
        QVERIFY(QFileInfo::exists(directory + "/default"));
        QCOMPARE(testsupport::readBytes(directory + "/bin/libgame.so"), QByteArray(300000, 'L'));
        const QByteArray log = logContent();
        QVERIFY2(log.contains("sendFunnelEvent:  \"launcher_downloaded\""), log);
        QVERIFY2(log.contains("sendFunnelEvent:  \"launcher_verified\""), log);

        // Started detached: the record may come a moment after the launcher ended.
        const QString record = directory + "/bin/started.txt";
        QTRY_VERIFY_WITH_TIMEOUT(testsupport::readBytes(record).count('\n') == 5, kTimeoutMs);
        const QList<QByteArray> lines = testsupport::readBytes(record).split('\n');
        QCOMPARE(QString(lines[0]), directory + "/bin"); // working directory
        QCOMPARE(QString(lines[1]), directory + "/bin"); // LD_LIBRARY_PATH
        QCOMPARE(lines[2], QByteArray("--fullscreen"));
        QCOMPARE(lines[3], QByteArray("--server=eu"));
        QCOMPARE(lines[4], QByteArray("--package-is-up-to-date")); // verified in this run
    }

private:
    std::unique_ptr<TTestHttpServer> m_pServer;
    std::unique_ptr<TLauncherInstall> m_pInstall;
};

QTEST_GUILESS_MAIN(TestLauncherStartup)
#include "tst_launcherstartup.moc"
