// The real launcher when things go wrong: it must end with a reason in its log and status 1,
// never abort, never start a half-installed client and never linger as an invisible process.
#include "launcherinstall.h"
#include "memorypeak.h"
#include "packagefixture.h"
#include "shared/filesystemhelper/regularfile.h"
#include "testfiles.h"
#include "testhttpserver.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using testsupport::peakResidentKiB;
using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TPackageFixture;
using testsupport::TTestHttpRoute;
using testsupport::TTestHttpServer;

namespace {

constexpr int kTimeoutMs = 30000;
// The status of a row whose server is gone before the launcher starts.
constexpr int kServerStopped = 0;
const QString kConfigurationPath = QStringLiteral("/launcher/qormetadata.json");
const QByteArray kRecordingClient =
    "#!/bin/sh\necho started >> \"$(dirname \"$0\")/started.txt\"\n";

QByteArray logContent()
{
    return readBytes(TLauncherInstall::logFilePath());
}

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + "/packages/Live";
}

// What the process has read so far, files and pipes together.
qint64 bytesRead(qint64 pid)
{
    const QByteArray io = readBytes(QStringLiteral("/proc/%1/io").arg(pid));
    const int at = io.indexOf("rchar: ");
    return at < 0 ? 0 : io.mid(at + 7, io.indexOf('\n', at) - at - 7).toLongLong();
}

int clientStarts()
{
    return readBytes(packageDirectory() + "/bin/started.txt").count('\n');
}

QString containerPath(const QByteArray& content)
{
    return "/live/files/" +
           QString::fromLatin1(
               QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

// Lowers this process's file-size limit while it lives, for the programs started meanwhile.
class TFileSizeLimit
{
public:
    explicit TFileSizeLimit(rlim_t bytes)
    {
        m_bSet = getrlimit(RLIMIT_FSIZE, &m_Previous) == 0;
        rlimit lowered = m_Previous;
        lowered.rlim_cur = bytes;
        m_bSet = m_bSet && setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~TFileSizeLimit()
    {
        if (m_bSet)
            setrlimit(RLIMIT_FSIZE, &m_Previous);
    }
    bool isSet() const { return m_bSet; }

private:
    rlimit m_Previous{};
    bool m_bSet = false;
};

} // namespace

class TestLauncherFailures : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<QProcess::ExitStatus>(); }

    void init()
    {
        QDir(testsupport::kestrunDataDirectory()).removeRecursively();
        m_pServer = std::make_unique<TTestHttpServer>();
        QVERIFY(m_pServer->start());
        m_pInstall = std::make_unique<TLauncherInstall>();
        QVERIFY(m_pInstall->isValid());
        QVERIFY(m_pInstall->writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url(kConfigurationPath))));
        m_pFixture = std::make_unique<TPackageFixture>(*m_pServer, "/live");
        m_pFixture->setFile("bin/client", kRecordingClient, true);
        m_pFixture->setFile("data/world.dat", QByteArray(50000, 'w'));
        m_pServer->serve(kConfigurationPath, m_pFixture->launcherConfiguration("Live", true));
    }

    void cleanup()
    {
        m_pInstall.reset();
        m_pServer.reset();
    }

    void unstartableClientEndsWithAReason_data()
    {
        QTest::addColumn<QString>("executable");
        QTest::addColumn<QByteArray>("reason");
        // The launcher stayed alive without a window, holding the single-instance guard.
        QTest::newRow("no executable") << QString() << QByteArray("names no executable to start");
        // The path escaped as an exception into the event loop and aborted the launcher.
        QTest::newRow("parent directory") << QString("..") << QByteArray("Critical file error:");
    }
    void unstartableClientEndsWithAReason()
    {
        QFETCH(QString, executable);
        QFETCH(QByteArray, reason);
        m_pFixture->setExecutable(executable);
        m_pFixture->publish("1");

        // Installed by the first run, then started by a plain one: both must end.
        for (const QStringList& arguments : {QStringList{"--first-launch"}, QStringList{}}) {
            QCOMPARE(runLauncher(arguments), 1);
            QVERIFY2(logContent().contains(reason), logContent().right(1500));
        }
        QVERIFY(QFileInfo::exists(packageDirectory() + "/package.json"));
    }

    void failedPatchStartsNoClient()
    {
        // A failed update used to start the half-installed client and exit with 0.
        m_pFixture->setExecutable("bin/client");
        m_pFixture->publish("1");
        QCOMPARE(runLauncher({"--first-launch"}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, kTimeoutMs);

        const QByteArray world = QByteArray(50000, 'W');
        m_pFixture->setFile("data/world.dat", world);
        m_pFixture->publish("2");
        TTestHttpRoute gone;
        gone.status = 404;
        m_pServer->setRoute(containerPath(world), gone);

        QCOMPARE(runLauncher({"--patch", packageDirectory() + "/bin/client"}), 1);
        QVERIFY2(logContent().contains("Patch of \"Live\" failed, the client is not started"),
                 logContent().right(1500));
        QVERIFY(QFileInfo::exists(packageDirectory() + "/partial-package.json"));
        QCOMPARE(clientStarts(), 1);
    }

    void endlessBodyFailsTheDownloadInLittleMemory()
    {
        // A body that never ends was read to its end: the launcher grew by gigabytes per
        // attempt until the system killed it.
        m_pFixture->setExecutable("bin/client");
        const QByteArray small(7000, 's');
        m_pFixture->setFile("data/small.dat", small);
        m_pFixture->publish("1");
        TTestHttpRoute endless;
        endless.body = QByteArray(65536, 'x');
        endless.streamBytes = TTestHttpRoute::kEndless;
        m_pServer->setRoute(containerPath(small), endless);

        QFile::remove(TLauncherInstall::logFilePath());
        QProcess& launcher = m_pInstall->start({"--first-launch"});
        QVERIFY(launcher.waitForStarted(kTimeoutMs));
        qint64 peakKiB = 0;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            peakKiB = std::max(peakKiB, peakResidentKiB(launcher.processId()));
        });
        sampler.start(20);
        QSignalSpy finished(&launcher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(finished.wait(kTimeoutMs));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 1);
        QVERIFY2(peakKiB > 0 && peakKiB < 300 * 1024, qPrintable(QString::number(peakKiB)));
        QVERIFY2(logContent().contains("The body is longer than"), logContent().right(1500));
        QVERIFY(QFileInfo::exists(packageDirectory() + "/partial-package.json"));
        QCOMPARE(clientStarts(), 0);
    }

    void fileSizeLimitEndsAsSavingFailure()
    {
        // Under a file-size limit the kernel ended the launcher with SIGXFSZ while it wrote the
        // game, with nothing in its log and no reason for the player.
        m_pFixture->setExecutable("bin/client");
        m_pFixture->setFile("data/world.dat", QByteArray(400000, 'w'));
        m_pFixture->publish("1");
        QFile::remove(TLauncherInstall::logFilePath());
        QProcess* pLauncher = nullptr;
        {
            const TFileSizeLimit limit(200000);
            QVERIFY(limit.isSet());
            pLauncher = &m_pInstall->start({"--first-launch"});
        }
        QSignalSpy finished(pLauncher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(finished.wait(kTimeoutMs));
        QCOMPARE(pLauncher->exitStatus(), QProcess::NormalExit);
        QCOMPARE(pLauncher->exitCode(), 1);
        QVERIFY2(logContent().contains("Could not write 'data/world.dat': File too large"),
                 logContent().right(1500));
        QCOMPARE(clientStarts(), 0);
    }

    // A FIFO where the game's file was held the planning for good: the launcher never ended, not
    // even on SIGTERM. A folder of the player's there failed the installation, rightly, but with
    // the advice to free disk space. The FIFO is replaced; the folder is kept and named.
    void somethingElseInAFilesPlace_data()
    {
        QTest::addColumn<bool>("fifo");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("told"); // in the box's text and in the JSON end
        QTest::newRow("FIFO") << true << 0 << QByteArray();
        QTest::newRow("folder with the player's file")
            << false << 1 << QByteArray("Could not write 'data/world.dat': Is a directory");
    }
    void somethingElseInAFilesPlace()
    {
        QFETCH(bool, fifo);
        QFETCH(int, status);
        QFETCH(QByteArray, told);
        m_pFixture->setExecutable("bin/client");
        m_pFixture->publish("1");
        const QString world = packageDirectory() + "/data/world.dat";
        QVERIFY(QDir().mkpath(fifo ? packageDirectory() + "/data" : world));
        if (fifo)
            QCOMPARE(::mkfifo(QFile::encodeName(world).constData(), 0644), 0);
        else
            QVERIFY(testsupport::writeBytes(world + "/save.dat", "player's"));

        QProcess& launcher = m_pInstall->start({"--first-launch", "--progress-json"});
        QSignalSpy finished(&launcher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY2(finished.wait(kTimeoutMs), logContent().right(1500));
        QCOMPARE(launcher.exitCode(), status);
        if (fifo) {
            QVERIFY(shared::isRegularFile(world));
            QVERIFY(readBytes(world) == QByteArray(50000, 'w'));
            return;
        }
        QCOMPARE(readBytes(world + "/save.dat"), QByteArray("player's"));
        QVERIFY2(logContent().contains(told), logContent().right(1500));
        QVERIFY2(!logContent().contains("enough free disk space"), logContent().right(1500));
        const QByteArray output = launcher.readAllStandardOutput();
        QVERIFY2(output.contains("\"detail\":\"" + told), output);
    }

    // Reading an installed file of many gigabytes held a launcher told to end until the whole
    // file was read: minutes.
    void terminationEndsTheScanOfALargeFile()
    {
        m_pFixture->setExecutable("bin/client");
        m_pFixture->publish("1");
        QVERIFY(QDir().mkpath(packageDirectory() + "/data"));
        QFile sparse(packageDirectory() + "/data/world.dat");
        QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(64) << 30));
        sparse.close();

        QProcess& launcher = m_pInstall->start({"--first-launch"});
        QTRY_VERIFY_WITH_TIMEOUT(bytesRead(launcher.processId()) > (qint64(256) << 20), kTimeoutMs);
        QSignalSpy finished(&launcher,
                            QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QElapsedTimer ending;
        ending.start();
        launcher.terminate();
        QVERIFY(finished.wait(kTimeoutMs));
        QVERIFY2(ending.elapsed() < 5000, qPrintable(QString::number(ending.elapsed())));
        QCOMPARE(launcher.exitStatus(), QProcess::NormalExit);
        QCOMPARE(launcher.exitCode(), 128 + SIGTERM);
    }

    void everyEndIsExplainedInTheLog_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("delayMs");
        QTest::addColumn<QByteArray>("localCopy");
        QTest::addColumn<QByteArrayList>("lines");
        QTest::addColumn<QByteArray>("absent");
        const QByteArray maintenance = "Maintenance message:";
        const QByteArray unreachable = "Cannot reach the Kestrun Online service";
        QTest::newRow("withdrawn")
            << 404 << QByteArray() << 0 << QByteArray()
            << QByteArrayList{"Download of configuration failed:", maintenance} << unreachable;
        QTest::newRow("not parsable")
            << 200 << QByteArray("<html>") << 0 << QByteArray()
            << QByteArrayList{"Launcher configuration could not be read:", maintenance}
            << unreachable;
        QTest::newRow("timed out")
            << 200 << QByteArray("{}") << 20000 << QByteArray()
            << QByteArrayList{"Download of configuration timed out after",
                              "No local copy of the launcher configuration", maintenance}
            << unreachable;
        QTest::newRow("damaged local copy")
            << 200 << QByteArray("{}") << 20000 << QByteArray("{\"packages\": [")
            << QByteArrayList{"Local copy of the launcher configuration unusable:",
                              "Critical file error:"}
            << maintenance;
        // A refused connection told the player the service was down for maintenance.
        QTest::newRow("connection refused")
            << kServerStopped << QByteArray() << 0 << QByteArray()
            << QByteArrayList{"Download of configuration failed:", unreachable} << maintenance;
    }
    void everyEndIsExplainedInTheLog()
    {
        // Boxes and configuration failures left nothing in the log, and without a display the
        // box waited for a click that could never come.
        QFETCH(int, status);
        QFETCH(QByteArray, body);
        QFETCH(int, delayMs);
        QFETCH(QByteArray, localCopy);
        QFETCH(QByteArrayList, lines);
        QFETCH(QByteArray, absent);
        TTestHttpRoute route;
        route.status = status;
        route.body = body;
        route.delayMs = delayMs;
        m_pServer->setRoute(kConfigurationPath, route);
        QByteArray settings = TLauncherInstall::settingsFor(m_pServer->url(kConfigurationPath));
        settings.replace("downloadErrorTimeout=10000", "downloadErrorTimeout=300");
        QVERIFY(m_pInstall->writeSettings(settings));
        if (!localCopy.isEmpty())
            QVERIFY(testsupport::writeBytes(
                testsupport::kestrunDataDirectory() + "/launchermetadata.json", localCopy));

        if (status == kServerStopped)
            m_pServer.reset();

        QCOMPARE(runLauncher({}), 1);
        for (const QByteArray& line : lines)
            QVERIFY2(logContent().contains(line), logContent().right(1500));
        QVERIFY2(!logContent().contains(absent), logContent().right(1500));
    }

    void unusableSettingsFileIsNamed_data()
    {
        QTest::addColumn<QByteArray>("settings");
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("unreadable") << QByteArray("folder");
        QTest::newRow("relative address")
            << QByteArray("[URLS]\nlauncherConfiguration=launcher/qormetadata.json\n");
    }
    void unusableSettingsFileIsNamed()
    {
        // The maintenance box came before the event loop ran, so the exit it asked for was lost:
        // the launcher stayed with its splash screen, holding the single-instance guard.
        QFETCH(QByteArray, settings);
        const QString path = m_pInstall->directory() + "/launchersettings.ini";
        if (settings == "folder") {
            QFile::remove(path);
            QVERIFY(QDir().mkpath(path));
        } else {
            QVERIFY(m_pInstall->writeSettings(settings));
        }
        QCOMPARE(runLauncher({}), 1);
        QVERIFY2(logContent().contains(("The settings file " + path).toUtf8()),
                 logContent().right(1500));
    }

private:
    int runLauncher(const QStringList& arguments)
    {
        QFile::remove(TLauncherInstall::logFilePath());
        return m_pInstall->run(arguments, kTimeoutMs);
    }

    std::unique_ptr<TTestHttpServer> m_pServer;
    std::unique_ptr<TLauncherInstall> m_pInstall;
    std::unique_ptr<TPackageFixture> m_pFixture;
};

QTEST_GUILESS_MAIN(TestLauncherFailures)
#include "tst_launcherfailures.moc"
