// The real launcher binary, started as a player would start it.
#include "launcherinstall.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QtTest>

using testsupport::TLauncherInstall;

namespace {

constexpr int kTimeoutMs = 30000;

QByteArray logContent()
{
    return testsupport::readBytes(TLauncherInstall::logFilePath());
}

bool isRunningWithLog(const QProcess& process)
{
    return process.state() == QProcess::Running && logContent().contains("load configuration");
}

// A configuration address that answers only after the test is over.
QUrl pendingConfiguration(testsupport::TTestHttpServer& server)
{
    testsupport::TTestHttpRoute pending;
    pending.delayMs = 120000;
    server.setRoute("/launcher/qormetadata.json", pending);
    return server.url("/launcher/qormetadata.json");
}

} // namespace

class TestLauncherProcess : public QObject
{
    Q_OBJECT

private slots:
    // Each test waits for its own launcher's log: an earlier test's must not answer for it.
    void init() { QFile::remove(TLauncherInstall::logFilePath()); }

    void secondStartIsAnsweredByTheFirst_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("output");
        QTest::addColumn<QByteArray>("firstLogLine");
        QTest::addColumn<QByteArray>("language");     // empty: the system's
        QTest::addColumn<bool>("ownTemporaryFolder"); // the second start's TMPDIR differs
        // The second start ended silently and the player saw nothing happen.
        QTest::newRow("plain") << QStringList{} << 0
                               << QByteArray("already running: its window was brought to the front")
                               << QByteArray("A later start brought the launcher to the front")
                               << QByteArray() << false;
        // A patch the running launcher never started ended with status 0 all the same.
        QTest::newRow("patch") << QStringList{"--patch", "bin/client"} << 1
                               << QByteArray("the patch was not started: this launcher is busy")
                               << QByteArray("A later start asked for a patch; refused")
                               << QByteArray() << false;
        // The terminal's answer was English whatever the player's language (an ASCII part of
        // it: the test machine may lack the German locale's encoding).
        QTest::newRow("plain, German")
            << QStringList{} << 0 << QByteArray("sein Fenster wurde nach vorne geholt")
            << QByteArray("A later start brought the launcher to the front") << QByteArray("de")
            << false;
        // The guard followed the temporary folder: a second start with a TMPDIR of its own ran
        // as a second launcher beside the first.
        QTest::newRow("own temporary folder")
            << QStringList{} << 0
            << QByteArray("already running: its window was brought to the front")
            << QByteArray("A later start brought the launcher to the front") << QByteArray()
            << true;
    }
    void secondStartIsAnsweredByTheFirst()
    {
        QFETCH(QStringList, arguments);
        QFETCH(int, status);
        QFETCH(QByteArray, output);
        QFETCH(QByteArray, firstLogLine);
        QFETCH(QByteArray, language);
        QFETCH(bool, ownTemporaryFolder);
        const QByteArray oldLanguage = qgetenv("LANGUAGE");
        const QByteArray oldLang = qgetenv("LANG");
        const QByteArray oldTemporaryFolder = qgetenv("TMPDIR");
        const auto restore = qScopeGuard([&] {
            qputenv("LANGUAGE", oldLanguage);
            qputenv("LANG", oldLang);
            qputenv("TMPDIR", oldTemporaryFolder);
        });
        if (!language.isEmpty()) {
            qputenv("LANGUAGE", language);
            qputenv("LANG", "de_DE.UTF-8");
        }
        // The first instance waits for its configuration, so it writes nothing more meanwhile.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        TLauncherInstall install;
        QVERIFY(install.isValid());
        QVERIFY(install.writeSettings(TLauncherInstall::settingsFor(pendingConfiguration(server))));
        QProcess& first = install.start();
        QTRY_VERIFY_WITH_TIMEOUT(isRunningWithLog(first), kTimeoutMs);
        const QByteArray firstLog = logContent();
        QVERIFY2(firstLog.contains("Info: Version:  \"0.0.14\"  Thread:  0x"), firstLog);

        QTemporaryDir secondTemporaryFolder;
        if (ownTemporaryFolder)
            qputenv("TMPDIR", QFile::encodeName(secondTemporaryFolder.path()));
        QProcess& second = install.start(arguments);
        QVERIFY(second.waitForFinished(kTimeoutMs));
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), status);
        const QByteArray errors = second.readAllStandardError();
        QVERIFY2(errors.contains("Version:  \"0.0.14\" already running  Thread:  0x"), errors);
        QVERIFY2(errors.contains(output), errors);
        // The account group is read before the log opens, so its warning goes to the console.
        QVERIFY2(errors.contains("AccountGroupSetting Error: KeyNotExists"), errors);

        // Logging is set up after the guard: the second start must not truncate the log.
        QVERIFY2(logContent().startsWith(firstLog), logContent());
        QVERIFY2(logContent().contains(firstLogLine), logContent());
        QCOMPARE(first.state(), QProcess::Running);
    }

    void terminationEndsThroughTheEventLoop()
    {
        // The configuration stays pending, so the launcher is in its event loop and no dialog.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        TLauncherInstall install;
        QVERIFY(install.writeSettings(TLauncherInstall::settingsFor(pendingConfiguration(server))));
        QProcess& launcher = install.start();
        QTRY_VERIFY_WITH_TIMEOUT(isRunningWithLog(launcher), kTimeoutMs);
        launcher.terminate();
        QVERIFY(launcher.waitForFinished(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 128 + 15);
        QVERIFY(logContent().contains("Info: terminationRequested 15"));
    }

    void startAfterKilledInstance()
    {
        // A killed launcher leaves its lock file, its door and its log behind; the next start must
        // run, answer at the door and begin a fresh log. The configuration stays pending, so both
        // stay in their event loop.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        TLauncherInstall install;
        QVERIFY(install.writeSettings(TLauncherInstall::settingsFor(pendingConfiguration(server))));
        QProcess& killed = install.start();
        QTRY_VERIFY_WITH_TIMEOUT(isRunningWithLog(killed), kTimeoutMs);
        killed.kill();
        QVERIFY(killed.waitForFinished(kTimeoutMs));
        QVERIFY(testsupport::writeBytes(TLauncherInstall::logFilePath(), "stale line\n"));

        QProcess& next = install.start({"--unknown-option", "-x"});
        QTRY_VERIFY_WITH_TIMEOUT(isRunningWithLog(next), kTimeoutMs);
        const QByteArray log = logContent();
        QVERIFY2(!log.contains("stale line"), log);
        QCOMPARE(log.count("Info: Version: "), 1);
        QProcess& later = install.start();
        QVERIFY(later.waitForFinished(kTimeoutMs));
        QCOMPARE(later.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestLauncherProcess)
#include "tst_launcherprocess.moc"
