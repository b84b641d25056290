// The launcher updating itself with the real programs: the publisher makes a launcher package of
// the next version, Debian's nginx serves it, and the launcher installs it into its own directory
// and restarts; failed, killed or skipped, it still starts the game client.
#include "buildpaths.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "testfiles.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QtTest>

#include <csignal>

using testsupport::filesBelow;
using testsupport::processState;
using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::writeBytes;

namespace {

constexpr int kTimeoutMs = 120000;
const QString kHelper = QStringLiteral("kestrun-helper.txt");
const QString kReadme = QStringLiteral("README-launcher.txt");
// A file of this launcher's package that the next version no longer has.
const QString kOldIcon = QStringLiteral("icons/old.png");
const QByteArray kOldHelper = "helper of " KESTRUN_LAUNCHER_VERSION "\n";
const QByteArray kNewHelper = "helper of " KESTRUN_NEXT_LAUNCHER_VERSION "\n";

QString gameDirectory()
{
    return testsupport::kestrunDataDirectory() + QStringLiteral("/packages/live");
}

QByteArray logContent()
{
    return readBytes(TLauncherInstall::logFilePath());
}

bool runTool(const QString& program, const QStringList& arguments, QString& output)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, arguments);
    const bool finished = process.waitForFinished(kTimeoutMs);
    output = QString::fromUtf8(process.readAll());
    return finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// The state letter of /proc/<pid>/stat: 'T' once the process stopped itself at a checkpoint.
// Launchers started from this path, the detached restarted one included.
int processesRunning(const QString& executable)
{
    int count = 0;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        entry.toLongLong(&number);
        if (!number)
            continue;
        const QString target = QFileInfo(QStringLiteral("/proc/%1/exe").arg(entry)).symLinkTarget();
        count += target == executable || target == executable + " (deleted)" ? 1 : 0;
    }
    return count;
}

} // namespace

class TestSelfUpdate : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        if (!TNginxServer::isAvailable())
            QSKIP("nginx is not installed: run scripts/install-deps.sh");
        QVERIFY(m_Work.isValid());
        publishGame();
        publishLauncher();
        publishUnusableLaunchers();
        m_bReadOnlyMounts = readOnlyMountsWork();
        m_pServer = std::make_unique<TNginxServer>(cdn());
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
    }

    void cleanup()
    {
        qunsetenv("KESTRUN_TEST_STOP_AT");
        m_pInstall.reset(); // ends launchers still running
        if (m_pReadOnlyLauncher && m_pReadOnlyLauncher->state() != QProcess::NotRunning) {
            m_pReadOnlyLauncher->kill();
            m_pReadOnlyLauncher->waitForFinished(kTimeoutMs);
        }
    }

    void updatesItselfAndRestarts()
    {
        // The checkpoint launcher stops before its restart, so that its own log can be read
        // before the restarted launcher begins the log anew.
        makeInstall(KESTRUN_CHECKPOINT_LAUNCHER_BINARY);
        const QByteArray oldLauncher = readBytes(m_pInstall->executablePath());
        const int clientsBefore = clientStarts();
        qputenv("KESTRUN_TEST_STOP_AT", "before-restart");
        QProcess& launcher = m_pInstall->start({QStringLiteral("--first-launch")});
        QTRY_COMPARE_WITH_TIMEOUT(processState(launcher.processId()), 'T', kTimeoutMs);

        const QByteArray log = logContent();
        QVERIFY2(log.contains("startSelfUpdate  \"" KESTRUN_NEXT_LAUNCHER_VERSION "\""), log);
        QVERIFY2(log.contains("showSplashScreen \":/images/launcher/"
                              "LauncherLogo_UpdatingLauncher.png\""),
                 log);
        QVERIFY2(log.contains("(\"--first-launch\", \"--skip-selfupdate\")"), log);
        const QString directory = m_pInstall->directory();
        QCOMPARE(readBytes(m_pInstall->executablePath()), readBytes(KESTRUN_NEXT_LAUNCHER_BINARY));
        QVERIFY(QFileInfo(m_pInstall->executablePath()).isExecutable());
        QCOMPARE(readBytes(m_pInstall->executablePath() + ".old"), oldLauncher);
        QCOMPARE(readBytes(directory + "/" + kHelper), kNewHelper);
        QCOMPARE(readBytes(directory + "/" + kHelper + ".old"), kOldHelper);
        QCOMPARE(readBytes(directory + "/package.json"), readBytes(launcherDocument()));
        QVERIFY(!QFileInfo::exists(directory + "/partial-package.json"));

        ::kill(pid_t(launcher.processId()), SIGCONT);
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.count() > 0 || ended.wait(kTimeoutMs));
        QCOMPARE(launcher.exitCode(), 0);

        // The restarted launcher is the new version; it cleans up and starts the client.
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), clientsBefore + 1, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(processesRunning(m_pInstall->executablePath()), 0, kTimeoutMs);
        const QByteArray newLog = logContent();
        QVERIFY2(newLog.contains("Version:  \"" KESTRUN_NEXT_LAUNCHER_VERSION "\""), newLog);
        QVERIFY2(newLog.contains("cleanupOldLauncherVersion"), newLog);
        QVERIFY2(!newLog.contains("startSelfUpdate"), newLog);
        QVERIFY2(newLog.contains("startPackageAndExit"), newLog);
        verifyUpdatedDirectory();
    }

    void updatesItselfInTheUnpackedBundle()
    {
        // Catches a bundle that cannot update in place (a layout the launcher does not own, a
        // launcher that does not start from it) and an update that disturbs the bundle's other
        // files, which the launcher package does not know.
        m_pInstall = TLauncherInstall::fromBundle(KESTRUN_BUNDLE_ARCHIVE);
        prepareInstall();
        if (QTest::currentTestFailed())
            return;
        const QString directory = m_pInstall->directory();
        const QStringList bundleFiles = {
            "com.halvern.KestrunLauncher.desktop", "install-desktop-entry.sh",
            "icons/hicolor/48x48/apps/com.halvern.KestrunLauncher.png"};
        QMap<QString, QByteArray> before;
        for (const QString& file : bundleFiles) {
            before.insert(file, readBytes(directory + "/" + file));
            QVERIFY2(!before.value(file).isEmpty(), qPrintable(file));
        }
        const int clientsBefore = clientStarts();

        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        // The restarted launcher is the new version; it cleans up and starts the client.
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), clientsBefore + 1, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(processesRunning(m_pInstall->executablePath()), 0, kTimeoutMs);
        const QByteArray log = logContent();
        QVERIFY2(log.contains("Version:  \"" KESTRUN_NEXT_LAUNCHER_VERSION "\""), log);
        QVERIFY2(log.contains("startPackageAndExit"), log);
        verifyUpdatedDirectory();
        for (const QString& file : bundleFiles)
            QCOMPARE(readBytes(directory + "/" + file), before.value(file));
    }

    void failedUpdateLeavesEveryFileAsItWas()
    {
        // The launcher's last chunk is damaged on the server: the update fails, whether or not
        // the small files were replaced by then (a chunk that fails for good ends the run at
        // once). Putting back replaced files is also covered by the snapshot's own test.
        const QString container = lastContainerOf(QStringLiteral("launcher"));
        QVERIFY(!container.isEmpty());
        const QByteArray intact = readBytes(container);
        QByteArray damaged = intact;
        damaged[damaged.size() - 10] = char(damaged[damaged.size() - 10] ^ 0x55);
        QVERIFY(writeBytes(container, damaged));

        makeInstall(KESTRUN_LAUNCHER_BINARY);
        const QMap<QString, QByteArray> before = filesBelow(m_pInstall->directory());
        const int clientsBefore = clientStarts();
        const int status = runLauncher({QStringLiteral("--first-launch")});
        QVERIFY(writeBytes(container, intact));

        QCOMPARE(status, 0);
        const QByteArray log = logContent();
        QVERIFY2(log.contains("Updating Kestrun Online failed: Error"), log);
        QCOMPARE(filesBelow(m_pInstall->directory()), before);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), clientsBefore + 1, kTimeoutMs);
    }

    void killedUpdateStillStarts_data()
    {
        QTest::addColumn<QByteArray>("checkpoint");
        QTest::newRow("during the download") << QByteArray();
        QTest::newRow("between moving aside and writing") << QByteArray("moved-aside");
        QTest::newRow("after a file was replaced") << QByteArray("replaced");
        QTest::newRow("after writing, before the restart") << QByteArray("before-restart");
    }
    void killedUpdateStillStarts()
    {
        QFETCH(QByteArray, checkpoint);
        makeInstall(KESTRUN_CHECKPOINT_LAUNCHER_BINARY);
        const QByteArray oldLauncher = readBytes(m_pInstall->executablePath());
        const QByteArray newLauncher = readBytes(KESTRUN_NEXT_LAUNCHER_BINARY);
        if (checkpoint.isEmpty()) {
            // Slow enough that the download is still running when the launcher is killed.
            m_pServer->setRateLimit("256k");
            QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        } else {
            qputenv("KESTRUN_TEST_STOP_AT", checkpoint);
        }
        QProcess& killed = m_pInstall->start({QStringLiteral("--first-launch")});
        if (checkpoint.isEmpty())
            QTRY_VERIFY_WITH_TIMEOUT(logContent().contains("start download of"), kTimeoutMs);
        else
            QTRY_COMPARE_WITH_TIMEOUT(processState(killed.processId()), 'T', kTimeoutMs);
        // A pid of 0 would signal this test's whole process group.
        QCOMPARE(killed.state(), QProcess::Running);
        QVERIFY(killed.processId() > 0);
        ::kill(pid_t(killed.processId()), SIGKILL);
        QSignalSpy ended(&killed, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        QVERIFY(ended.count() > 0 || ended.wait(kTimeoutMs));
        qunsetenv("KESTRUN_TEST_STOP_AT");
        m_pServer->setRateLimit({});
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));

        // Never a torn launcher: the old one or the new one.
        const QByteArray launcher = readBytes(m_pInstall->executablePath());
        QVERIFY(launcher == oldLauncher || launcher == newLauncher);
        QVERIFY(QFileInfo(m_pInstall->executablePath()).isExecutable());

        const int clientsBefore = clientStarts();
        QCOMPARE(runLauncher({QStringLiteral("--first-launch")}), 0);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), clientsBefore + 1, kTimeoutMs);
        QTRY_COMPARE_WITH_TIMEOUT(processesRunning(m_pInstall->executablePath()), 0, kTimeoutMs);
        verifyUpdatedDirectory();
    }

    void launcherThatCannotBeUpdatedStillStartsTheGame_data()
    {
        QTest::addColumn<QString>("configuration");
        QTest::addColumn<QString>("readOnly"); // a folder mounted read-only: "." the launcher's
        QTest::addColumn<QByteArray>("reason");
        // Installed, the package's settings pointed the next start elsewhere.
        QTest::newRow("package names the settings")
            << "settings" << QString() << QByteArray("'launchersettings.ini' is not a file of");
        // Deleted together with its ".old", the launcher could never start again from there.
        QTest::newRow("package lacks the launcher")
            << "nolauncher" << QString() << QByteArray("does not contain the running launcher");
        // The restart failed and ended the launcher with status 1.
        QTest::newRow("updated launcher does not start")
            << "broken" << QString() << QByteArray("the updated launcher did not start");
        // The Debian package's folder in /opt, started without --skip-selfupdate: the update
        // failed writing and ended the launcher with status 1.
        QTest::newRow("read-only folder") << "qormetadata"
                                          << "." << QByteArray("cannot be written");
        // Writable itself, but not where the update deletes a file: the file error ended the
        // launcher with status 1.
        QTest::newRow("read-only subfolder")
            << "qormetadata"
            << "icons" << QByteArray("Updating Kestrun Online failed: \"I/O error");
    }
    void launcherThatCannotBeUpdatedStillStartsTheGame()
    {
        QFETCH(QString, configuration);
        QFETCH(QString, readOnly);
        QFETCH(QByteArray, reason);
        if (!readOnly.isEmpty() && !m_bReadOnlyMounts)
            QSKIP("no private mount namespace for a read-only folder (unshare -m, as root)");
        makeInstall(KESTRUN_LAUNCHER_BINARY);
        const QString directory = m_pInstall->directory();
        QVERIFY(m_pInstall->writeSettings(
            TLauncherInstall::settingsFor(m_pServer->url("/launcher/" + configuration + ".json"))));
        // Installed as its own launcher package, so that a new package can delete its files.
        QVERIFY(writeBytes(directory + "/package.json", readBytes(currentLauncherDocument())));
        QVERIFY(writeBytes(directory + "/" + kOldIcon, kOldIcon.toUtf8()));
        const QMap<QString, QByteArray> before = filesBelow(directory);
        const int clientsBefore = clientStarts();

        const QStringList arguments = {QStringLiteral("--first-launch")};
        QCOMPARE(readOnly.isEmpty() ? runLauncher(arguments)
                                    : runWithReadOnlyFolder(directory + "/" + readOnly, arguments),
                 0);
        QCOMPARE(filesBelow(directory), before);
        const QByteArray log = logContent();
        QVERIFY2(log.contains(reason), log);
        QTRY_COMPARE_WITH_TIMEOUT(clientStarts(), clientsBefore + 1, kTimeoutMs);
    }

    void cleanupRemovesOnlyOldFilesOfTheLauncherPackage_data()
    {
        QTest::addColumn<QString>("binary");
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("remote version is this launcher's")
            << QString(KESTRUN_NEXT_LAUNCHER_BINARY) << QStringList{"--first-launch"};
        QTest::newRow("--skip-selfupdate") << QString(KESTRUN_LAUNCHER_BINARY)
                                           << QStringList{"--first-launch", "--skip-selfupdate"};
    }
    void cleanupRemovesOnlyOldFilesOfTheLauncherPackage()
    {
        QFETCH(QString, binary);
        QFETCH(QStringList, arguments);
        makeInstall(binary);
        const QString directory = m_pInstall->directory();
        // Unpacked into a folder of the player's own, beside their files.
        QVERIFY(writeBytes(directory + "/package.json", readBytes(launcherDocument())));
        QVERIFY(writeBytes(directory + "/launcher.old", "the version before"));
        QVERIFY(writeBytes(directory + "/" + kHelper + ".old", kOldHelper));
        QVERIFY(writeBytes(directory + "/notes.old", "the player's notes"));
        QVERIFY(writeBytes(directory + "/backup/launcher.old", "the player's backup"));

        QCOMPARE(runLauncher(arguments), 0);
        const QByteArray log = logContent();
        QVERIFY2(!log.contains("startSelfUpdate"), log);
        QVERIFY2(log.contains("cleanupOldLauncherVersion"), log);
        QVERIFY(!QFileInfo::exists(directory + "/launcher.old"));
        QVERIFY(!QFileInfo::exists(directory + "/" + kHelper + ".old"));
        QCOMPARE(readBytes(directory + "/notes.old"), QByteArray("the player's notes"));
        QCOMPARE(readBytes(directory + "/backup/launcher.old"), QByteArray("the player's backup"));
        QCOMPARE(readBytes(m_pInstall->executablePath()), readBytes(binary)); // not updated
    }

private:
    QString cdn() const { return m_Work.filePath(QStringLiteral("cdn")); }
    QString currentLauncherDocument() const
    {
        return cdn() + QStringLiteral("/current/launcher-" KESTRUN_LAUNCHER_VERSION ".json");
    }
    QString launcherDocument() const
    {
        return cdn() + QStringLiteral("/self/launcher-" KESTRUN_NEXT_LAUNCHER_VERSION ".json");
    }

    void publishGame()
    {
        const QString build = m_Work.filePath(QStringLiteral("game"));
        QVERIFY(QDir().mkpath(build));
        QVERIFY(QFile::copy(KESTRUN_DEMOCLIENT_BINARY, build + "/KestrunOnlineClient"));
        QVERIFY(writeBytes(build + "/data/world.pak", QByteArray(100000, 'w')));
        QString output;
        QVERIFY2(runTool(KESTRUN_PUBLISHER_BINARY,
                         {"publish", "--build", build, "--cdn", cdn() + "/live", "--name", "game",
                          "--package-version", "1", "--executable", "KestrunOnlineClient",
                          "--parameter", "--exit-after", "--parameter", "500"},
                         output),
                 qPrintable(output));
        QVERIFY2(
            runTool(KESTRUN_PUBLISHER_BINARY,
                    {"configure", "--output", cdn() + "/launcher/qormetadata.json", "--package",
                     "Live", "--directory-name", "live", "--install-automatically", "true",
                     "--build", "linux/x86_64=../live/game-1.json"},
                    output),
            qPrintable(output));
    }

    // The next version of the launcher, with a changed helper file and a new one.
    void publishLauncher()
    {
        const QString build = m_Work.filePath(QStringLiteral("launcherbuild"));
        QVERIFY(QDir().mkpath(build));
        QVERIFY(QFile::copy(KESTRUN_NEXT_LAUNCHER_BINARY, build + "/launcher"));
        QVERIFY(QFile::copy(KESTRUN_BIN_DIR "/launcher.en.qm", build + "/launcher.en.qm"));
        QVERIFY(writeBytes(build + "/" + kHelper, kNewHelper));
        QVERIFY(writeBytes(build + "/" + kReadme, "new in " KESTRUN_NEXT_LAUNCHER_VERSION "\n"));
        QString output;
        QVERIFY2(runTool(KESTRUN_PUBLISHER_BINARY,
                         {"publish", "--build", build, "--cdn", cdn() + "/self", "--name",
                          "launcher", "--package-version", KESTRUN_NEXT_LAUNCHER_VERSION,
                          "--executable", "launcher"},
                         output),
                 qPrintable(output));
        QVERIFY2(runTool(KESTRUN_PUBLISHER_BINARY,
                         {"configure", "--output", cdn() + "/launcher/qormetadata.json",
                          "--launcher", "--package", "Kestrun Online Launcher", "--build",
                          "linux/x86_64=../self/launcher-" KESTRUN_NEXT_LAUNCHER_VERSION ".json"},
                         output),
                 qPrintable(output));
    }

    // This launcher as a package, and next versions that must not be installed, each with a
    // launcher configuration "<name>.json" of its own beside the game.
    void publishUnusableLaunchers()
    {
        const QByteArray settings =
            TLauncherInstall::settingsFor(QUrl("http://127.0.0.1:1/elsewhere"));
        const QMap<QString, QMap<QString, QByteArray>> builds = {
            {"current",
             {{"launcher", readBytes(KESTRUN_LAUNCHER_BINARY)},
              {kHelper, kOldHelper},
              {kOldIcon, kOldIcon.toUtf8()}}},
            {"settings",
             {{"launcher", readBytes(KESTRUN_NEXT_LAUNCHER_BINARY)},
              {"launchersettings.ini", settings}}},
            {"nolauncher", {{kHelper, kNewHelper}}},
            {"broken", {{"launcher", "not a program\n"}, {kHelper, kNewHelper}}},
        };
        for (auto build = builds.begin(); build != builds.end(); ++build) {
            const QString folder = m_Work.filePath(build.key() + "build");
            for (auto file = build.value().begin(); file != build.value().end(); ++file)
                QVERIFY(writeBytes(folder + "/" + file.key(), file.value()));
            QFile::setPermissions(folder + "/launcher", QFile::ReadOwner | QFile::WriteOwner |
                                                            QFile::ExeOwner | QFile::ReadOther);
            QVERIFY(QFile::copy(KESTRUN_BIN_DIR "/launcher.en.qm", folder + "/launcher.en.qm"));
            const QString version = build.key() == "current"
                                        ? QStringLiteral(KESTRUN_LAUNCHER_VERSION)
                                        : QStringLiteral(KESTRUN_NEXT_LAUNCHER_VERSION);
            const QString executable = build.value().contains("launcher") ? "launcher" : kHelper;
            QString output;
            QVERIFY2(
                runTool(KESTRUN_PUBLISHER_BINARY,
                        {"publish", "--build", folder, "--cdn", cdn() + "/" + build.key(), "--name",
                         "launcher", "--package-version", version, "--executable", executable},
                        output),
                qPrintable(output));
            const QString configuration = cdn() + "/launcher/" + build.key() + ".json";
            QVERIFY2(runTool(KESTRUN_PUBLISHER_BINARY,
                             {"configure", "--output", configuration, "--package", "Live",
                              "--directory-name", "live", "--install-automatically", "true",
                              "--build", "linux/x86_64=../live/game-1.json"},
                             output),
                     qPrintable(output));
            QVERIFY2(runTool(KESTRUN_PUBLISHER_BINARY,
                             {"configure", "--output", configuration, "--launcher", "--package",
                              "Kestrun Online Launcher", "--build",
                              "linux/x86_64=../" + build.key() + "/launcher-" + version + ".json"},
                             output),
                     qPrintable(output));
        }
    }

    // Tests run as root, whom permission bits do not stop; a read-only bind mount in a private
    // mount namespace does, and leaves the rest of the machine alone.
    static bool readOnlyMountsWork()
    {
        QTemporaryDir folder;
        QString output;
        return folder.isValid() &&
               runTool("unshare",
                       {"-m", "sh", "-c",
                        "mount --bind -o ro \"$1\" \"$1\" && ! touch \"$1/probe\"", "sh",
                        folder.path()},
                       output);
    }

    // The launcher with a folder mounted read-only for it alone.
    int runWithReadOnlyFolder(const QString& folder, const QStringList& arguments)
    {
        m_pReadOnlyLauncher = std::make_unique<QProcess>();
        m_pReadOnlyLauncher->setWorkingDirectory(m_pInstall->directory());
        m_pReadOnlyLauncher->start(
            "unshare", QStringList{"-m", "sh", "-c",
                                   "mount --bind -o ro \"$1\" \"$1\" && shift && exec \"$@\"", "sh",
                                   folder, m_pInstall->executablePath()} +
                           arguments);
        QSignalSpy ended(m_pReadOnlyLauncher.get(),
                         QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        if (!ended.wait(kTimeoutMs) || m_pReadOnlyLauncher->exitStatus() != QProcess::NormalExit)
            return -1;
        return m_pReadOnlyLauncher->exitCode();
    }

    // The container of the file's last piece, as the launcher package document names it.
    QString lastContainerOf(const QString& localFile) const
    {
        const QJsonObject document =
            QJsonDocument::fromJson(readBytes(launcherDocument())).object();
        const QJsonArray chunks = document.value("chunks").toArray();
        for (const QJsonValue& value : document.value("files").toArray()) {
            const QJsonObject file = value.toObject();
            if (file.value("localfile").toString() != localFile)
                continue;
            const QJsonArray indexes = file.value("chunks").toArray();
            const QString url =
                indexes.isEmpty()
                    ? file.value("url").toString()
                    : chunks.at(indexes.last().toInt()).toObject().value("url").toString();
            return cdn() + "/self/" + url;
        }
        return {};
    }

    void makeInstall(const QString& binary)
    {
        m_pInstall = std::make_unique<TLauncherInstall>(binary);
        prepareInstall();
    }

    void prepareInstall()
    {
        QVERIFY(m_pInstall->isValid());
        QVERIFY(m_pInstall->writeSettings(TLauncherInstall::settingsFor(
            m_pServer->url(QStringLiteral("/launcher/qormetadata.json")))));
        QVERIFY(writeBytes(m_pInstall->directory() + "/" + kHelper, kOldHelper));
        QFile::remove(TLauncherInstall::logFilePath());
    }

    // The new version complete, its markers final, nothing of the update left over.
    void verifyUpdatedDirectory()
    {
        const QString directory = m_pInstall->directory();
        QCOMPARE(readBytes(m_pInstall->executablePath()), readBytes(KESTRUN_NEXT_LAUNCHER_BINARY));
        QVERIFY(QFileInfo(m_pInstall->executablePath()).isExecutable());
        QCOMPARE(readBytes(directory + "/" + kHelper), kNewHelper);
        QVERIFY(QFileInfo::exists(directory + "/" + kReadme));
        QCOMPARE(readBytes(directory + "/package.json"), readBytes(launcherDocument()));
        QVERIFY(!QFileInfo::exists(directory + "/partial-package.json"));
        const QStringList leftOvers =
            QDir(directory).entryList({"*.old", "*.tmp-*"}, QDir::Files | QDir::Hidden);
        QVERIFY2(leftOvers.isEmpty(), qPrintable(leftOvers.join(", ")));
    }

    int runLauncher(const QStringList& arguments) { return m_pInstall->run(arguments, kTimeoutMs); }

    // The client is started detached: its record may come a moment after the launcher ended.
    static int clientStarts()
    {
        return readBytes(gameDirectory() + "/democlient-runs.log").count('\n');
    }

    QTemporaryDir m_Work;
    std::unique_ptr<TNginxServer> m_pServer;
    std::unique_ptr<TLauncherInstall> m_pInstall;
    std::unique_ptr<QProcess> m_pReadOnlyLauncher;
    bool m_bReadOnlyMounts = false;
};

QTEST_GUILESS_MAIN(TestSelfUpdate)
#include "tst_selfupdate.moc"
