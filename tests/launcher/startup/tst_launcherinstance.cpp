// The real launcher's single instance among several local users and in unusual environments.
#include "launcherinstall.h"
#include "otherusers.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QtTest>

using testsupport::TLauncherInstall;
using testsupport::TOtherUsers;

namespace {

constexpr int kTimeoutMs = 30000;
constexpr uint kPlayer = 4242;
constexpr uint kOtherUser = 4343;

QUrl pendingConfiguration(testsupport::TTestHttpServer& server)
{
    testsupport::TTestHttpRoute pending;
    pending.delayMs = 120000;
    server.setRoute("/launcher/qormetadata.json", pending);
    return server.url("/launcher/qormetadata.json");
}

// A launcher every user may run, made in a folder they may enter.
std::unique_ptr<TLauncherInstall> installForAll(TOtherUsers& users, const QUrl& configuration)
{
    const QByteArray temporaryFolder = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(users.path()));
    auto install = std::make_unique<TLauncherInstall>();
    qputenv("TMPDIR", temporaryFolder);
    if (!install->isValid() ||
        !install->writeSettings(TLauncherInstall::settingsFor(configuration)))
        return nullptr;
    QFile::setPermissions(install->directory(), QFile::ReadOwner | QFile::WriteOwner |
                                                    QFile::ExeOwner | QFile::ReadOther |
                                                    QFile::ExeOther);
    return install;
}

// Ends the programs a test started as other users, as the player would.
auto stopAtEnd(std::initializer_list<QProcess*> Processes)
{
    return qScopeGuard([Processes = std::vector<QProcess*>(Processes)] {
        for (QProcess* process : Processes) {
            process->terminate();
            process->waitForFinished(kTimeoutMs);
        }
    });
}

// Whether the launcher started and now waits for its configuration; false as soon as it ended.
bool waitUntilRunning(QProcess& launcher, const QString& logPath)
{
    launcher.waitForStarted(kTimeoutMs);
    QTest::qWaitFor(
        [&] {
            return launcher.state() != QProcess::Running ||
                   testsupport::readBytes(logPath).contains("load configuration");
        },
        kTimeoutMs);
    return launcher.state() == QProcess::Running &&
           testsupport::readBytes(logPath).contains("load configuration");
}

} // namespace

class TestLauncherInstance : public QObject
{
    Q_OBJECT

private slots:
    void otherUserDoesNotStopThePlayer_data()
    {
        QTest::addColumn<bool>("otherRuns");
        QTest::addColumn<bool>("otherKilled");
        QTest::addColumn<bool>("unwritableTemporaryFolder");
        // The player's start aborted on the other user's shared-memory lock.
        QTest::newRow("other user's launcher runs") << true << false << false;
        // The killed launcher's lock stayed, and every start of the player aborted on it.
        QTest::newRow("other user's launcher was killed") << true << true << false;
        // A temporary folder the player cannot write aborted the start.
        QTest::newRow("temporary folder not writable") << false << false << true;
    }
    void otherUserDoesNotStopThePlayer()
    {
        QFETCH(bool, otherRuns);
        QFETCH(bool, otherKilled);
        QFETCH(bool, unwritableTemporaryFolder);
        if (const QString reason = TOtherUsers::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        TOtherUsers users;
        const auto install = installForAll(users, pendingConfiguration(server));
        QVERIFY(install);

        QProcess other;
        QProcess player;
        const auto stop = stopAtEnd({&other, &player});
        if (otherRuns) {
            TOtherUsers::start(other, kOtherUser, users.environment(kOtherUser),
                               install->executablePath());
            const QString log = users.launcherDataFolder(kOtherUser) + "/launcher.log";
            QVERIFY2(waitUntilRunning(other, log), other.readAllStandardError());
        }
        if (otherKilled) {
            other.kill();
            QVERIFY(other.waitForFinished(kTimeoutMs));
        }
        QProcessEnvironment environment = users.environment(kPlayer);
        if (unwritableTemporaryFolder)
            environment.insert("TMPDIR", users.path());
        QVERIFY(users.isValid());

        TOtherUsers::start(player, kPlayer, environment, install->executablePath());
        const QString log = users.launcherDataFolder(kPlayer) + "/launcher.log";
        QVERIFY2(waitUntilRunning(player, log), player.readAllStandardError());
    }

    void guardThatCannotBeMadeEndsWithStatus()
    {
        // Without a runtime folder the lock goes into the data folder; when that cannot be made
        // either, the launcher ends with a reason and status 1 instead of running unguarded or
        // aborting.
        QTemporaryDir folder;
        QVERIFY(testsupport::writeBytes(folder.filePath("file"), "not a folder"));
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        const QByteArray oldData = qgetenv("XDG_DATA_HOME");
        const auto restore = qScopeGuard([&] {
            qputenv("XDG_RUNTIME_DIR", oldRuntime);
            qputenv("XDG_DATA_HOME", oldData);
        });
        qunsetenv("XDG_RUNTIME_DIR");
        qputenv("XDG_DATA_HOME", QFile::encodeName(folder.filePath("file/data")));
        TLauncherInstall install;
        QProcess& launcher = install.start();
        QVERIFY(launcher.waitForFinished(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 1);
        const QByteArray errors = launcher.readAllStandardError();
        QVERIFY2(errors.contains("cannot make sure that it runs only once") &&
                     errors.contains("file/data"),
                 errors);
    }
};

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    TestLauncherInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcherinstance.moc"
