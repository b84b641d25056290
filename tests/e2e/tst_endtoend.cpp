// The whole road with the real programs: the publisher cuts a build into a CDN tree, Debian's
// nginx serves it, and the real launcher installs, updates, resumes, repairs and starts the client.
#include "buildpaths.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

using testsupport::processState;
using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;
using testsupport::writeBytes;

namespace {

constexpr int kTimeoutMs = 60000;
// References: the constants live in another translation unit, whose initialisation may come later.
const QString& kClient = TPublishedGame::kClient;
const QString& kWorld = TPublishedGame::kWorld;

QByteArray pseudoRandom(int size, quint32 seed)
{
    return TPublishedGame::pseudoRandom(size, seed);
}

QString packageDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

QByteArray logContent()
{
    return readBytes(TLauncherInstall::logFilePath());
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QVERIFY(m_Game.isValid());
        m_World = pseudoRandom(40 << 20, 7);
        makeBuild(m_World);
        publish("1");
        m_pServer = std::make_unique<TNginxServer>(cdn());
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        configure();
        QVERIFY(m_Launcher.isValid());
        QVERIFY(m_Launcher.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url(TPublishedGame::kConfigurationPath))));
    }

    void firstInstall()
    {
        const int before = clientStarts();
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        const QString directory = packageDirectory();
        QCOMPARE(readBytes(directory + "/" + kWorld), m_World);
        QCOMPARE(readBytes(directory + "/" + kClient), readBytes(KESTRUN_DEMOCLIENT_BINARY));
        QVERIFY(QFileInfo(directory + "/" + kClient).isExecutable());
        QCOMPARE(readBytes(directory + "/package.json"), readBytes(cdn() + "/live/package-1.json"));
        QVERIFY(!QFileInfo::exists(directory + "/partial-package.json"));
        QCOMPARE(readBytes(directory + "/assets.json"),
                 readBytes(cdn() + "/live/package-1-assets-11.json"));

        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), before + 1, kTimeoutMs);
        const QJsonObject start = lastClientStart();
        QCOMPARE(start.value("workingDirectory").toString(), directory);
        QCOMPARE(start.value("libraryPath").toString(), directory);
        QCOMPARE(start.value("arguments").toVariant().toStringList(),
                 QStringList({"--exit-after", "500", "--realm=eu", "--package-is-up-to-date"}));
    }

    void updateFetchesOnlyChangedChunks()
    {
        QByteArray world = m_World;
        world.insert(1000, pseudoRandom(5000, 99)); // bytes inserted near the start
        makeBuild(world);
        publish("2");
        configure("2");
        m_pServer->clearAccessLog();

        const int before = clientStarts();
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        QCOMPARE(readBytes(packageDirectory() + "/" + kWorld), world);
        // 40 MiB make at least three chunks; the insertion touches only the first.
        const int chunksFetched = countRequests(QStringLiteral("/live/data/lzma/"));
        const int chunksPublished = containersPublished(QStringLiteral("lzma"));
        QVERIFY2(chunksFetched >= 1 && chunksFetched <= 2,
                 qPrintable(QString("fetched %1 of %2").arg(chunksFetched).arg(chunksPublished)));
        m_World = world;
        m_Version = QStringLiteral("2");
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), before + 1, kTimeoutMs);
    }

    void interruptedInstallResumes()
    {
        QDir(packageDirectory()).removeRecursively();
        m_pServer->setRateLimit("512k");
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        m_pServer->clearAccessLog();
        QFile::remove(TLauncherInstall::logFilePath());
        QProcess& killed = m_Launcher.start({QStringLiteral("--first-launch")});
        // Killed once the small client file is in place, while the large chunks are still on
        // their way at this rate: chunks of 4 MiB and more take seconds each.
        const qint64 clientSize = QFileInfo(KESTRUN_DEMOCLIENT_BINARY).size();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(packageDirectory() + "/" + kClient).size() == clientSize,
                                 kTimeoutMs);
        QCOMPARE(killed.state(), QProcess::Running);
        QVERIFY(killed.processId() > 0);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QSignalSpy ended(&killed, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.count() > 0 || ended.wait(kTimeoutMs));
        QVERIFY(QFileInfo::exists(packageDirectory() + "/partial-package.json"));

        m_pServer->setRateLimit({});
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        m_pServer->clearAccessLog();
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        QCOMPARE(readBytes(packageDirectory() + "/" + kWorld), m_World);
        QVERIFY(QFileInfo::exists(packageDirectory() + "/package.json"));
        const qint64 secondRunBytes = bytesSent();
        const qint64 packageBytes = packedSize(cdn() + "/live/package-" + m_Version + ".json");
        QVERIFY2(secondRunBytes > 0 && secondRunBytes < packageBytes,
                 qPrintable(QString("second run fetched %1 of %2 bytes; %3")
                                .arg(secondRunBytes)
                                .arg(packageBytes)
                                .arg(describeLog())));
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), 1, kTimeoutMs); // its record went with the folder
    }

    void forcedPatchRepairsCorruption()
    {
        const QString world = packageDirectory() + "/" + kWorld;
        QByteArray damaged = readBytes(world);
        damaged[20 << 20] = char(damaged[20 << 20] ^ 0x5a);
        QVERIFY(writeBytes(world, damaged));
        QVERIFY(writeBytes(packageDirectory() + "/FORCE_PATCH", ""));
        m_pServer->clearAccessLog();

        QFile::remove(TLauncherInstall::logFilePath());
        QProcess& launcher = m_Launcher.start();
        QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("markPackageAsFullyInstalled"), kTimeoutMs);
        QCOMPARE(readBytes(world), m_World);
        QVERIFY(!QFileInfo::exists(packageDirectory() + "/FORCE_PATCH"));
        QVERIFY(countRequests(QStringLiteral("/live/data/lzma/")) >= 1);
        launcher.terminate();
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.count() > 0 || ended.wait(kTimeoutMs));
    }

    void repairRequestOutlivesAKill()
    {
        // The request file was removed before the repair was recorded: killed in between, the
        // launcher started the damaged game as installed, with no repair asked any more.
        const QString world = packageDirectory() + "/" + kWorld;
        QByteArray damaged = m_World;
        damaged[1 << 20] = char(damaged[1 << 20] ^ 0x5a);
        QVERIFY(writeBytes(world, damaged));
        QVERIFY(writeBytes(packageDirectory() + "/FORCE_PATCH", ""));
        TLauncherInstall checkpoints(KESTRUN_CHECKPOINT_LAUNCHER_BINARY);
        QVERIFY(checkpoints.writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url(TPublishedGame::kConfigurationPath))));
        qputenv("KESTRUN_TEST_STOP_AT", "repair-requested");
        QProcess& killed = checkpoints.start();
        QTRY_COMPARE_WITH_TIMEOUT(processState(killed.processId()), 'T', kTimeoutMs);
        qunsetenv("KESTRUN_TEST_STOP_AT");
        QVERIFY(killed.processId() > 0);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QSignalSpy ended(&killed, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.count() > 0 || ended.wait(kTimeoutMs));
        QVERIFY(!QFileInfo::exists(packageDirectory() + "/FORCE_PATCH"));

        const int before = clientStarts();
        QCOMPARE(runLauncher({}), 1); // the window is refused headless: not ready to start
        QCOMPARE(clientStarts(), before);
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        QCOMPARE(readBytes(world), m_World);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), before + 1, kTimeoutMs);
    }

    void errorPageAsPackageDocumentKeepsTheGame()
    {
        // A captive portal answers with its login page and status 200. Taken for a package
        // document, it made planning delete every installed file and report success.
        QVERIFY(writeBytes(cdn() + "/live/package-portal.json",
                           "<html><body>Log in first</body></html>"));
        QVERIFY(
            QFile::copy(cdn() + "/live/package-" + m_Version + "-assets-1" + m_Version + ".json",
                        cdn() + "/live/package-portal-assets-1portal.json"));
        configure(QStringLiteral("portal"));
        const QMap<QString, QByteArray> before = installedFiles();

        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 1);
        QVERIFY2(logContent().contains("Package documents not used:"), logContent().right(1500));
        QCOMPARE(installedFiles(), before);
        configure(m_Version);
    }

    void emptyFilePathKeepsThePackageDirectory()
    {
        // An entry whose path resolves to the installation itself removed the whole package
        // directory, the player's own files with it.
        QVERIFY(writeBytes(packageDirectory() + "/screenshots/first.png", "the player's"));
        QJsonObject document =
            QJsonDocument::fromJson(readBytes(cdn() + "/live/package-" + m_Version + ".json"))
                .object();
        QJsonArray files = document.value("files").toArray();
        QJsonObject empty = files.first().toObject();
        empty["localfile"] = "";
        files.append(empty);
        document["files"] = files;
        document["version"] = "emptypath";
        QVERIFY(
            writeBytes(cdn() + "/live/package-emptypath.json", QJsonDocument(document).toJson()));
        QVERIFY(
            QFile::copy(cdn() + "/live/package-" + m_Version + "-assets-1" + m_Version + ".json",
                        cdn() + "/live/package-emptypath-assets-1emptypath.json"));
        configure(QStringLiteral("emptypath"));
        const QMap<QString, QByteArray> before = installedFiles();

        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 1);
        QCOMPARE(readBytes(packageDirectory() + "/screenshots/first.png"),
                 QByteArray("the player's"));
        QCOMPARE(readBytes(packageDirectory() + "/" + kWorld), m_World);
        QCOMPARE(installedFiles().keys(), before.keys());
        configure(m_Version);
    }

    void killedUpdateAlwaysRecovers()
    {
        // Killed at any moment of an update that moves chunks inside a file, the next run must
        // end with the new build, byte for byte, and leave no temporary file behind.
        const QString snapshot = m_Game.work() + QStringLiteral("/snapshot");
        QVERIFY(copyTree(packageDirectory(), snapshot));
        QByteArray world = m_World.mid(m_World.size() / 2) + m_World.left(m_World.size() / 2);
        world.insert(3000, pseudoRandom(7000, 5));
        makeBuild(world);
        publish(QStringLiteral("moved"));
        configure(QStringLiteral("moved"));

        QElapsedTimer clock;
        clock.start();
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        const qint64 updateMs = clock.elapsed();
        QCOMPARE(readBytes(packageDirectory() + "/" + kWorld), world);

        const quint32 seed = QRandomGenerator::global()->generate();
        QRandomGenerator random(seed);
        for (int round = 0; round < 30; ++round) {
            QDir(packageDirectory()).removeRecursively();
            QVERIFY(copyTree(snapshot, packageDirectory()));
            const int killAfterMs = random.bounded(int(updateMs) + 1);
            const QString context = QString("seed %1, round %2, killed after %3 of %4 ms")
                                        .arg(seed)
                                        .arg(round)
                                        .arg(killAfterMs)
                                        .arg(updateMs);
            QProcess& killed = m_Launcher.start({QStringLiteral("--first-launch")});
            QVERIFY(killed.waitForStarted(kTimeoutMs));
            QTest::qWait(killAfterMs);
            // A pid of 0 would signal this test's whole process group.
            if (killed.state() == QProcess::Running && killed.processId() > 0)
                ::kill(pid_t(killed.processId()), SIGKILL);
            QVERIFY(killed.state() == QProcess::NotRunning || killed.waitForFinished(kTimeoutMs));

            QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
            QVERIFY2(readBytes(packageDirectory() + "/" + kWorld) == world, qPrintable(context));
            const QStringList leftOvers = temporaryFiles();
            QVERIFY2(leftOvers.isEmpty(), qPrintable(context + ": " + leftOvers.join(", ")));
        }
        m_World = world;
        m_Version = QStringLiteral("moved");
    }

    void serverDownUsesLocalCopy()
    {
        m_pServer->stop();
        const int before = clientStarts();
        QCOMPARE(runLauncher({}), 0);
        QVERIFY2(logContent().contains("Download of configuration failed:"), logContent());
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), before + 1, kTimeoutMs);
    }

private:
    QString cdn() const { return m_Game.cdn(); }

    void makeBuild(const QByteArray& world)
    {
        QString error;
        QVERIFY2(m_Game.makeBuild(world, error), qPrintable(error));
    }

    void publish(const QString& version)
    {
        QString output;
        QVERIFY2(m_Game.publish(version, output), qPrintable(output));
    }

    void configure(const QString& version = QStringLiteral("1"))
    {
        QString output;
        QVERIFY2(m_Game.configure(version, output), qPrintable(output));
    }

    int runLauncher(const QStringList& arguments)
    {
        QFile::remove(TLauncherInstall::logFilePath());
        return m_Launcher.run(arguments, kTimeoutMs);
    }

    // The client is started detached: its record may come a moment after the launcher ended.
    static int clientStarts()
    {
        return readBytes(packageDirectory() + "/democlient-runs.log").count('\n');
    }
    static QJsonObject lastClientStart()
    {
        const QByteArray record = readBytes(packageDirectory() + "/democlient-runs.log");
        return QJsonDocument::fromJson(record.trimmed().split('\n').last()).object();
    }

    int countRequests(const QString& prefix) const
    {
        int count = 0;
        for (const auto& entry : m_pServer->accessLog())
            count += entry.path.startsWith(prefix) && entry.status == 200 ? 1 : 0;
        return count;
    }

    QString describeLog() const
    {
        QStringList lines;
        for (const auto& entry : m_pServer->accessLog())
            lines << QString("%1 %2 %3").arg(entry.path).arg(entry.status).arg(entry.bytesSent);
        return lines.join("; ");
    }

    int containersPublished(const QString& codec) const
    {
        int count = 0;
        QDirIterator it(cdn() + "/live/data/" + codec, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            it.next();
            ++count;
        }
        return count;
    }

    // All the package's data as transferred: what a fresh install fetches.
    static qint64 packedSize(const QString& packageDocument)
    {
        const QJsonObject document = QJsonDocument::fromJson(readBytes(packageDocument)).object();
        qint64 total = 0;
        for (const char* list : {"chunks", "files"}) {
            for (const QJsonValue& entry : document.value(list).toArray())
                total += entry.toObject().value("packedsize").toVariant().toLongLong();
        }
        return total;
    }

    qint64 bytesSent() const
    {
        qint64 bytes = 0;
        for (const auto& entry : m_pServer->accessLog())
            bytes += entry.path.contains("/data/") ? entry.bytesSent : 0;
        return bytes;
    }

    // Path and content of every file of the installed package.
    static QMap<QString, QByteArray> installedFiles()
    {
        return testsupport::filesBelow(packageDirectory());
    }

    // What a killed launcher may leave: temporary files beside installed files or in TMPDIR.
    static QStringList temporaryFiles()
    {
        QStringList found;
        const QRegularExpression pattern(QStringLiteral("\\.(tmp|reuse)-......$"));
        QDirIterator it(packageDirectory(), QDir::Files | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            if (pattern.match(path).hasMatch())
                found << path;
        }
        for (const QString& name : QDir(QDir::tempPath()).entryList({"qt_temp.*"}, QDir::Files))
            found << name;
        return found;
    }

    static bool copyTree(const QString& from, const QString& to)
    {
        QDirIterator it(from, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString path = it.next();
            const QString target = to + path.mid(from.size());
            if (!QDir().mkpath(QFileInfo(target).absolutePath()) || !QFile::copy(path, target))
                return false;
        }
        return true;
    }

    TPublishedGame m_Game;
    QString m_Version = QStringLiteral("1");
    QByteArray m_World;
    std::unique_ptr<TNginxServer> m_pServer;
    TLauncherInstall m_Launcher;
};

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
