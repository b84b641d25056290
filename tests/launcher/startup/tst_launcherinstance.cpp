// The real launcher's single instance among several local users and in unusual environments.
#include "launcherinstall.h"
#include "otherusers.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QtTest>

using testsupport::TLauncherInstall;
using testsupport::TOtherUsers;

namespace {

constexpr int kTimeoutMs = 30000;
constexpr uint kPlayer = 4242;
constexpr uint kOtherUser = 4343;
const char* const kFakeDoorVariable = "KESTRUN_TEST_FAKE_DOOR";

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
    // What was waited for is read again below: the launcher may have ended meanwhile.
    static_cast<void>(QTest::qWaitFor(
        [&] {
            return launcher.state() != QProcess::Running ||
                   testsupport::readBytes(logPath).contains("load configuration");
        },
        kTimeoutMs));
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

    void otherUserCannotAnswerForThePlayer()
    {
        // Another user bound the door's name in the shared /tmp first; the player's later
        // "--patch" start took that user's "done" for an answer and ended with status 0.
        if (const QString reason = TOtherUsers::unavailableReason(); !reason.isEmpty())
            QSKIP(qPrintable(reason));
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        TOtherUsers users;
        const auto install = installForAll(users, pendingConfiguration(server));
        QVERIFY(install);
        const QByteArray key = "1b7a377a-e61e-4016-a479-7054bc72a4f8";
        const QString sharedDoor =
            users.sharedTemporaryFolder() +
            QStringLiteral("/kestrun-launcher-%1-%2")
                .arg(kPlayer)
                .arg(QString::fromLatin1(
                    QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(16)));
        QProcessEnvironment fakeEnvironment = users.environment(kOtherUser);
        fakeEnvironment.insert(kFakeDoorVariable, sharedDoor);
        QProcess fake;
        QProcess first;
        const auto stop = stopAtEnd({&fake, &first});
        TOtherUsers::start(fake, kOtherUser, fakeEnvironment,
                           QCoreApplication::applicationFilePath());
        QVERIFY(fake.waitForReadyRead(kTimeoutMs));
        QCOMPARE(fake.readLine().trimmed(), QByteArray("listening"));

        const QProcessEnvironment environment = users.environment(kPlayer);
        QVERIFY(users.isValid());
        TOtherUsers::start(first, kPlayer, environment, install->executablePath());
        QVERIFY(waitUntilRunning(first, users.launcherDataFolder(kPlayer) + "/launcher.log"));
        QProcess second;
        TOtherUsers::start(second, kPlayer, environment, install->executablePath(),
                           {"--patch", "bin/client"});
        QVERIFY(second.waitForFinished(kTimeoutMs));
        const QByteArray errors = second.readAllStandardError();
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(errors.contains("the patch was not started: this launcher is busy"), errors);
        QVERIFY(!fake.readAllStandardOutput().contains("answered"));
    }

    void doorThatCannotOpen_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("plain") << QStringList{};
        QTest::newRow("patch") << QStringList{"--patch", "bin/client"};
    }
    void doorThatCannotOpen()
    {
        // A door that could not be opened was never mentioned in the log, and a later start
        // that reached nobody ended as if the running launcher had taken it. A runtime folder
        // too deep for a socket's name stands for any door that cannot be opened.
        QFETCH(QStringList, arguments);
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        QTemporaryDir deep;
        const QString runtime = deep.filePath(QString(100, QLatin1Char('r')));
        QVERIFY(QDir().mkpath(runtime));
        QVERIFY(
            QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
        const auto restore = qScopeGuard([&] { qputenv("XDG_RUNTIME_DIR", oldRuntime); });
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
        TLauncherInstall install;
        QVERIFY(install.writeSettings(TLauncherInstall::settingsFor(pendingConfiguration(server))));
        QProcess& first = install.start();
        QVERIFY(waitUntilRunning(first, TLauncherInstall::logFilePath()));
        QVERIFY2(TLauncherInstall::logContent().contains(
                     "Warning: Later starts cannot reach this launcher"),
                 TLauncherInstall::logContent());

        QProcess& second = install.start(arguments);
        QVERIFY(second.waitForFinished(kTimeoutMs));
        const QByteArray errors = second.readAllStandardError();
        QCOMPARE(second.exitCode(), 1);
        QVERIFY2(errors.contains("the running launcher did not answer"), errors);
        QCOMPARE(first.state(), QProcess::Running);
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
    if (qEnvironmentVariableIsSet(kFakeDoorVariable))
        return testsupport::serveFakeDoor(argc, argv, qEnvironmentVariable(kFakeDoorVariable));
    QCoreApplication application(argc, argv);
    TestLauncherInstance test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_launcherinstance.moc"
