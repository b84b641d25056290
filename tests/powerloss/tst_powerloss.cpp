// Power cuts during the launcher's work. The real launcher installs, updates, repairs and updates
// itself with its data folder (and for the self-update its own folder) on a recording file
// system; every tree a power cut could leave after any operation of the log is then written to a
// plain folder, and the launcher started on it offline, plainly and with --first-launch. It must
// never start a client whose files are not those its installed document names, nor refuse its
// own copy of the configuration; the self-updated folder must always hold a launcher that starts;
// and the --first-launch must bring the installation to the published build, the player's own
// file kept.
//
// KESTRUN_POWERLOSS_SAMPLE=N checks N states of each scenario and model, spread over the log;
// "all" (or no variable) checks every one. Failures name the scenario, the model, the point of
// the cut, the operation before it and what was wrong. KESTRUN_POWERLOSS_LOGS=FOLDER keeps each
// scenario's operation log there; KESTRUN_POWERLOSS_POINT=N checks only the cut after operation N.
#include "buildpaths.h"
#include "crashstates.h"
#include "launcherinstall.h"
#include "nginxserver.h"
#include "publishedgame.h"
#include "testfiles.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QtTest>

#include <csignal>

using powerloss::EModel;
using powerloss::TCrashReplay;
using powerloss::TCrashState;
using powerloss::TTree;
using testsupport::filesBelow;
using testsupport::readBytes;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;
using testsupport::TPublishedGame;
using testsupport::writeBytes;

namespace {

constexpr int kTimeoutMs = 120000;
// Below the root of a tree: the launcher's per-user data and its installation of the game.
const QString kDataHome = QStringLiteral("data");
const QString kAppData = QStringLiteral("data/Halvern GmbH/Kestrun Online");
const QString kInstallation = kAppData + QStringLiteral("/packages/live");
const QString kPlayerFile = QStringLiteral("screenshots/mine.png");
const QByteArray kPlayerBytes = "the player's own screenshot";
const QString kHelper = QStringLiteral("kestrun-helper.txt");
// What the launcher logs as it starts the client and when the installations it began ended.
const QByteArray kClientStartLine = "startPackageAndExit";
const QByteArray kInstallationsEndedLine = "ms during installations";
const QByteArray kRefusedCopyLines[] = {"Local copy of the launcher configuration refused",
                                        "Local copy of the launcher configuration unusable"};

enum class EScenario { FreshInstall, Update, Repair, SelfUpdate };
// How the launcher is started: plain with the service out of reach (on the local copies of the
// documents), plain, or to install.
enum class ERun { Offline, Plain, FirstLaunch };

QString runName(ERun Run)
{
    return Run == ERun::Offline ? QStringLiteral("offline start")
           : Run == ERun::Plain ? QStringLiteral("plain start")
                                : QStringLiteral("--first-launch");
}

QString scenarioName(EScenario Scenario)
{
    const char* const names[] = {"fresh install", "update", "repair", "self-update"};
    return QString::fromLatin1(names[int(Scenario)]);
}

QByteArray sha256Hex(const QByteArray& Bytes)
{
    return QCryptographicHash::hash(Bytes, QCryptographicHash::Sha256).toHex();
}

// Processes whose executable lies below the folder, a deleted one included.
QList<qint64> processesBelow(const QString& Folder)
{
    QList<qint64> found;
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        const QString target = QFileInfo("/proc/" + entry + "/exe").symLinkTarget();
        if (number && target.startsWith(Folder + '/'))
            found << pid;
    }
    return found;
}

// Polls the condition, as QTRY_VERIFY does, for at most the timeout.
template <typename TCondition> bool waitFor(TCondition Condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!Condition()) {
        if (clock.elapsed() > kTimeoutMs)
            return false;
        QTest::qWait(20);
    }
    return true;
}

// The recording file system, ended with SIGTERM however the recording ends: that unmounts it,
// where QProcess's own end (SIGKILL) would leave a dead mount in the next scenario's way.
class TRecorder : public QProcess
{
public:
    ~TRecorder() override
    {
        terminate();
        waitForFinished(kTimeoutMs);
    }
};

// A tree's file, or an empty array when the tree has no such file.
QByteArray fileOf(const TTree& Tree, const QString& Path)
{
    const auto entry = Tree.find(Path);
    return entry != Tree.end() && entry->Kind == 'f' ? entry->Content : QByteArray();
}

} // namespace

Q_DECLARE_METATYPE(EScenario)

class TestPowerLoss : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        qRegisterMetaType<QProcess::ExitStatus>();
        // CI runs as root with FUSE installed: there a missing piece is a failure, not a skip.
        QString missing;
        if (!QFileInfo::exists(QStringLiteral("/dev/fuse")))
            missing = QStringLiteral("/dev/fuse is missing");
        else if (QStandardPaths::findExecutable(QStringLiteral("fusermount3")).isEmpty())
            missing = QStringLiteral("fusermount3 is missing: run scripts/install-deps.sh");
        else if (!TNginxServer::isAvailable())
            missing = QStringLiteral("nginx is not installed: run scripts/install-deps.sh");
        if (!missing.isEmpty() && qgetenv("CI") == "true")
            QFAIL(qPrintable("power-loss test cannot run: " + missing));
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        QVERIFY(m_Work.isValid() && m_Game.isValid());
        // Signed, as the studio publishes: a document and its signature must change as a pair.
        QString output;
        QVERIFY2(TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY,
                                         {"keygen", "--output", work("studio.key")}, output),
                 qPrintable(output));
        m_Game.setSigningKey(work("studio.key"));
        publishGame();
        publishLauncher();
        m_pServer = std::make_unique<TNginxServer>(m_Game.cdn());
        QVERIFY2(m_pServer->start(), qPrintable(m_pServer->error()));
        makeLauncherFolder(work("launcher"));
        makeInstalledBase();
    }

    void cleanup() { endProcessesBelow(m_Work.path()); }

    void crashStates_data()
    {
        QTest::addColumn<EScenario>("scenario");
        for (const EScenario scenario :
             {EScenario::FreshInstall, EScenario::Update, EScenario::Repair, EScenario::SelfUpdate})
            QTest::newRow(qPrintable(scenarioName(scenario))) << scenario;
    }
    void crashStates()
    {
        QFETCH(EScenario, scenario);
        m_Scenario = scenario;
        configure();
        if (QTest::currentTestFailed())
            return;
        TCrashReplay replay;
        record(replay);
        if (QTest::currentTestFailed())
            return;
        QStringList failures;
        int checked = 0;
        for (const EModel model : {EModel::Pessimistic, EModel::Ext4}) {
            std::vector<TCrashState> states;
            QString error;
            QVERIFY2(replay.states(model, states, error), qPrintable(error));
            const int before = checked;
            for (size_t index = 0; index < states.size(); ++index) {
                const TCrashState& state = states[index];
                if (!chosen(state, int(index), int(states.size())))
                    continue;
                const QStringList problems = checkState(state);
                ++checked;
                for (const QString& problem : problems) {
                    const QString line =
                        QStringLiteral("%1, %2 model, cut after operation %3 of %4 (%5): %6")
                            .arg(scenarioName(scenario), powerloss::modelName(model))
                            .arg(state.Point)
                            .arg(replay.operationCount())
                            .arg(state.Operation, problem);
                    qWarning().noquote() << "FAILED STATE:" << line;
                    failures << line;
                }
            }
            qInfo("%s, %s model: %d operations, %d distinct crash states, %d checked",
                  qPrintable(scenarioName(scenario)), qPrintable(powerloss::modelName(model)),
                  replay.operationCount(), int(states.size()), checked - before);
        }
        QVERIFY2(failures.isEmpty(), qPrintable(QStringLiteral("%1 problems in %2 crash states")
                                                    .arg(failures.size())
                                                    .arg(checked)));
    }

private:
    QString work(const QString& Name) const { return m_Work.filePath(Name); }
    bool selfUpdate() const { return m_Scenario == EScenario::SelfUpdate; }

    // Version 1 has a file that version 2 drops; version 2 a new one and another world.
    void publishGame()
    {
        QString output;
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(600000, 1), output),
                 qPrintable(output));
        QVERIFY(writeBytes(m_Game.build() + "/data/old.dat", "dropped in version 2\n"));
        QVERIFY2(m_Game.publish("1", output), qPrintable(output));
        m_Builds[1] = filesBelow(m_Game.build());
        QVERIFY2(m_Game.makeBuild(TPublishedGame::pseudoRandom(700000, 2), output),
                 qPrintable(output));
        QVERIFY(writeBytes(m_Game.build() + "/data/extra.dat", "new in version 2\n"));
        QVERIFY2(m_Game.publish("2", output), qPrintable(output));
        m_Builds[2] = filesBelow(m_Game.build());
    }

    // The next version of the launcher as a package, as the self-update test publishes it.
    void publishLauncher()
    {
        const QString build = work("launcherbuild");
        QVERIFY(QDir().mkpath(build));
        QVERIFY(QFile::copy(KESTRUN_NEXT_LAUNCHER_BINARY, build + "/launcher"));
        QVERIFY(QFile::copy(KESTRUN_BIN_DIR "/launcher.en.qm", build + "/launcher.en.qm"));
        QVERIFY(writeBytes(build + "/" + kHelper, "helper of " KESTRUN_NEXT_LAUNCHER_VERSION));
        QString output;
        QVERIFY2(TPublishedGame::runTool(KESTRUN_PUBLISHER_BINARY,
                                         {"publish", "--build", build, "--cdn",
                                          m_Game.cdn() + "/self", "--name", "launcher",
                                          "--package-version", KESTRUN_NEXT_LAUNCHER_VERSION,
                                          "--executable", "launcher", "--key", work("studio.key")},
                                         output),
                 qPrintable(output));
        m_NextLauncher = filesBelow(build);
    }

    // The launcher configuration: the scenario's game version, and the next launcher for the
    // self-update only.
    void configure()
    {
        const QString document = m_Game.cdn() + TPublishedGame::kConfigurationPath;
        QFile::remove(document);
        QString output;
        QVERIFY2(m_Game.configure(QString::number(version()), output), qPrintable(output));
        if (selfUpdate())
            QVERIFY2(TPublishedGame::runTool(
                         KESTRUN_PUBLISHER_BINARY,
                         {"configure", "--output", document, "--launcher", "--package",
                          "Kestrun Online Launcher", "--build",
                          "linux/x86_64=../self/launcher-" KESTRUN_NEXT_LAUNCHER_VERSION ".json",
                          "--key", work("studio.key")},
                         output),
                     qPrintable(output));
    }

    int version() const { return m_Scenario == EScenario::Update ? 2 : 1; }

    void makeLauncherFolder(const QString& Folder)
    {
        QVERIFY(QDir().mkpath(Folder));
        QVERIFY(QFile::copy(KESTRUN_LAUNCHER_BINARY, Folder + "/launcher"));
        for (const char* translation : {"launcher.en.qm", "launcher.de.qm"})
            QVERIFY(QFile::copy(QStringLiteral(KESTRUN_BIN_DIR "/") + translation,
                                Folder + "/" + translation));
        QVERIFY(writeSettings(Folder, ERun::Plain));
    }

    // Settings with the studio's key; offline, they name a closed port.
    bool writeSettings(const QString& Folder, ERun Run) const
    {
        const QUrl configuration = Run == ERun::Offline
                                       ? QUrl("http://127.0.0.1:1/launcher/qormetadata.json")
                                       : m_pServer->url(TPublishedGame::kConfigurationPath);
        return writeBytes(Folder + "/launchersettings.ini",
                          TLauncherInstall::settingsFor(configuration) +
                              "\n[SECURITY]\ndocumentPublicKey=" +
                              readBytes(work("studio.key.pub")).trimmed() + "\n");
    }

    // Version 1 installed by the launcher on a plain folder: where the other scenarios begin.
    void makeInstalledBase()
    {
        m_Scenario = EScenario::FreshInstall;
        configure();
        const QString root = work("base");
        QVERIFY(writeBytes(root + "/" + kInstallation + "/" + kPlayerFile, kPlayerBytes));
        QString error;
        QByteArray log;
        QVERIFY2(runLauncher(work("launcher"), root, ERun::FirstLaunch, error, &log),
                 qPrintable(error));
        // Client starts are told by this line: without it no crash state could fail for one.
        QVERIFY2(log.contains(kClientStartLine),
                 ("the launcher no longer logs " + kClientStartLine).constData());
        // Each run makes the link to its own launcher and its own log.
        QFile::remove(root + "/" + kAppData + "/launcher");
        QFile::remove(root + "/" + kAppData + "/launcher.log");
        QDir(work("config")).removeRecursively();
        endProcessesBelow(root);
        QFile::remove(root + "/" + kInstallation + "/democlient-runs.log");
        TTree tree;
        QVERIFY2(powerloss::readTree(root, tree, error), qPrintable(error));
        const QStringList wrong = installationProblems(tree, 1);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join("; ") + "\n" + log.right(3000)));
    }

    // The tree the scenario starts from, in Folder.
    void makeInitialTree(const QString& Folder)
    {
        QDir(Folder).removeRecursively();
        if (m_Scenario == EScenario::FreshInstall)
            QVERIFY(QDir().mkpath(Folder + "/" + kInstallation));
        else
            QVERIFY(copyFolder(work("base"), Folder));
        QVERIFY(writeBytes(Folder + "/" + kInstallation + "/" + kPlayerFile, kPlayerBytes));
        if (m_Scenario == EScenario::Repair) {
            const QString world = Folder + "/" + kInstallation + "/" + TPublishedGame::kWorld;
            QByteArray damaged = readBytes(world);
            damaged[1000] = char(damaged[1000] ^ 0x5a);
            QVERIFY(writeBytes(world, damaged));
            QVERIFY(writeBytes(Folder + "/" + kInstallation + "/FORCE_PATCH", ""));
        }
        if (selfUpdate())
            makeLauncherFolder(Folder + "/launcher");
    }

    // The scenario's launcher run on the recording file system, its log in the replay.
    void record(TCrashReplay& Replay)
    {
        const QString backing = work("backing");
        const QString mount = work("mount");
        makeInitialTree(backing);
        QDir(work("config")).removeRecursively();
        QVERIFY(QDir().mkpath(mount));
        QString error;
        QVERIFY2(Replay.loadInitialTree(backing, error), qPrintable(error));

        TRecorder recorder;
        recorder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        recorder.start(KESTRUN_RECORDINGFS_BINARY, {backing, mount, work("operations.log")});
        QVERIFY2(waitFor([&recorder] {
                     return recorder.canReadLine() || recorder.state() == QProcess::NotRunning;
                 }) &&
                     recorder.readLine() == "ready\n",
                 "the recording file system did not mount");
        const bool ran =
            runLauncher(launcherFolder(mount), mount,
                        m_Scenario == EScenario::Repair ? ERun::Plain : ERun::FirstLaunch, error);
        endProcessesBelow(mount); // the client it started
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(kTimeoutMs));
        QCOMPARE(recorder.exitCode(), 0);
        QVERIFY2(ran, qPrintable(error));
        QVERIFY2(Replay.loadLog(work("operations.log"), error), qPrintable(error));
        // For a closer look at what the launcher did: KESTRUN_POWERLOSS_LOGS names a folder.
        const QString keep = qEnvironmentVariable("KESTRUN_POWERLOSS_LOGS");
        if (!keep.isEmpty()) {
            QDir().mkpath(keep);
            const QString copy = keep + "/" + scenarioName(m_Scenario) + ".log";
            QFile::remove(copy);
            QFile::copy(work("operations.log"), copy);
        }

        // The replay must know every change the launcher made, or its crash states are fiction.
        TTree replayed;
        TTree backed;
        QVERIFY2(Replay.finalTree(replayed, error), qPrintable(error));
        QVERIFY2(powerloss::readTree(backing, backed, error), qPrintable(error));
        const QStringList drift = powerloss::treeDifferences(backed, replayed);
        QVERIFY2(drift.isEmpty(), qPrintable("replay differs: " + drift.join("; ")));
        // And the launcher must have done its work, or there is nothing to cut short.
        const QStringList wrong = installationProblems(backed, version());
        QVERIFY2(wrong.isEmpty(), qPrintable("recorded run: " + wrong.join("; ")));
    }

    QString launcherFolder(const QString& Root) const
    {
        return selfUpdate() ? Root + "/launcher" : work("launcher");
    }

    // Whether to check the state, the Index-th of Count: all states, KESTRUN_POWERLOSS_SAMPLE of
    // them spread evenly with the last (everything durable) among them, or the one of
    // KESTRUN_POWERLOSS_POINT.
    static bool chosen(const TCrashState& State, int Index, int Count)
    {
        if (qEnvironmentVariableIsSet("KESTRUN_POWERLOSS_POINT"))
            return State.Point == qEnvironmentVariableIntValue("KESTRUN_POWERLOSS_POINT");
        bool number = false;
        const int size = qEnvironmentVariableIntValue("KESTRUN_POWERLOSS_SAMPLE", &number);
        return !number || size >= Count || (Index + 1) * size / Count != Index * size / Count;
    }

    // The state written to a plain folder, then a plain start and a --first-launch on it.
    QStringList checkState(const TCrashState& State)
    {
        const QString root = work("state");
        endProcessesBelow(root);
        QDir(root).removeRecursively();
        QDir(work("config")).removeRecursively();
        QString error;
        if (!powerloss::writeTree(State.Tree, root, error))
            return {error};
        if (selfUpdate()) {
            const QString problem = launcherProblem(State.Tree);
            if (!problem.isEmpty())
                return {problem};
        }
        const QString launchers = launcherFolder(root);
        QStringList problems;
        QByteArray log;
        for (const ERun run : {ERun::Offline, ERun::Plain}) {
            if (!runLauncher(launchers, root, run, error, &log))
                problems << runName(run) + ": " + error;
            // Its own copy, kept as a pair with its signature, is all an offline start has.
            for (const QByteArray& refused : kRefusedCopyLines)
                if (log.contains(refused))
                    problems << runName(run) + ": " + refused;
            if (log.contains(kClientStartLine)) {
                TTree started;
                powerloss::readTree(root, started, error);
                const QStringList wrong = documentProblems(started);
                if (!wrong.isEmpty())
                    problems << runName(run) + " started the client while " + wrong.join("; ");
            }
            endProcessesBelow(root + "/" + kDataHome);
        }
        if (!runLauncher(launchers, root, ERun::FirstLaunch, error, &log))
            problems << "--first-launch: " + error;
        TTree after;
        if (!powerloss::readTree(root, after, error))
            return problems << error;
        const QStringList wrong = installationProblems(after, version());
        if (!wrong.isEmpty())
            problems << "after --first-launch " + wrong.join("; ");
        return problems;
    }

    // For the self-update: a launcher that cannot start, or an empty string.
    QString launcherProblem(const TTree& Tree) const
    {
        const auto launcher = Tree.find(QStringLiteral("launcher/launcher"));
        if (launcher == Tree.end())
            return QStringLiteral("no launcher in its folder");
        if ((launcher->Mode & 0100) == 0)
            return QStringLiteral("launcher is not executable (mode %1)").arg(launcher->Mode, 0, 8);
        if (launcher->Content != m_NextLauncher.value("launcher") &&
            launcher->Content != readBytes(KESTRUN_LAUNCHER_BINARY))
            return QStringLiteral("launcher is neither version: %1 bytes")
                .arg(launcher->Content.size());
        return {};
    }

    // How the installation differs from the documents it holds: what a client must not be
    // started on.
    static QStringList documentProblems(const TTree& Tree)
    {
        QStringList problems;
        const QString folder = kInstallation + "/";
        const QByteArray bytes = fileOf(Tree, folder + "package.json");
        const QJsonObject document = QJsonDocument::fromJson(bytes).object();
        if (document.value("files").toArray().isEmpty())
            return {QStringLiteral("package.json is missing or unreadable (%1 bytes)")
                        .arg(bytes.size())};
        for (const QJsonValue& value : document.value("files").toArray()) {
            const QJsonObject file = value.toObject();
            const QString path = folder + file.value("localfile").toString();
            const auto entry = Tree.find(path);
            if (entry == Tree.end())
                problems << path.mid(folder.size()) + " is missing";
            else if (sha256Hex(entry->Content) != file.value("unpackedhash").toString().toLatin1())
                problems << QStringLiteral("%1 differs from the document (%2 bytes, %3 named)")
                                .arg(path.mid(folder.size()))
                                .arg(entry->Content.size())
                                .arg(file.value("unpackedsize").toVariant().toLongLong());
            else if (file.value("executable").toBool() && (entry->Mode & 0100) == 0)
                problems << path.mid(folder.size()) + " is not executable";
        }
        return problems;
    }

    // How the installation differs from the published build of the version, its document and
    // the player's file; and for the self-update how the launcher folder differs from the next
    // launcher.
    QStringList installationProblems(const TTree& Tree, int Version) const
    {
        QStringList problems;
        const QString folder = kInstallation + "/";
        const QMap<QString, QByteArray>& build = m_Builds.value(Version);
        for (auto file = build.begin(); file != build.end(); ++file) {
            const auto entry = Tree.find(folder + file.key());
            if (entry == Tree.end() || entry->Content != file.value())
                problems << file.key() + (entry == Tree.end() ? " is missing" : " differs");
        }
        if ((Tree.value(folder + TPublishedGame::kClient).Mode & 0100) == 0)
            problems << TPublishedGame::kClient + " is not executable";
        if (fileOf(Tree, folder + "package.json") !=
            readBytes(m_Game.packageDocument(QString::number(Version))))
            problems << "package.json is not the published document";
        // Besides the build only the launcher's records and the player's own files.
        const QStringList kept = {"package.json",    "package.json.sig", "assets.json",
                                  "assets.json.sig", "default",          "democlient-runs.log",
                                  kPlayerFile};
        for (auto entry = Tree.lowerBound(folder); entry != Tree.end(); ++entry) {
            const QString name = entry.key().mid(folder.size());
            if (!entry.key().startsWith(folder))
                break;
            if (entry->Kind != 'd' && !build.contains(name) && !kept.contains(name))
                problems << name + " is left";
        }
        if (fileOf(Tree, folder + kPlayerFile) != kPlayerBytes)
            problems << "the player's file is lost";
        if (selfUpdate()) {
            for (auto file = m_NextLauncher.begin(); file != m_NextLauncher.end(); ++file)
                if (fileOf(Tree, "launcher/" + file.key()) != file.value())
                    problems << "launcher/" + file.key() + " is not the next version's";
            if ((Tree.value("launcher/launcher").Mode & 0100) == 0)
                problems << "launcher/launcher is not executable";
        }
        return problems;
    }

    // Runs the launcher from Folder with its data below Root until it and any launcher it
    // restarted have ended. A plain start that repairs keeps its window open: it is ended once
    // its installations have. Its log, the last launcher's, in Log.
    bool runLauncher(const QString& Folder, const QString& Root, ERun Run, QString& Error,
                     QByteArray* Log = nullptr)
    {
        const QString logPath = Root + "/" + kAppData + "/launcher.log";
        QFile::remove(logPath);
        if (!writeSettings(Folder, Run)) {
            Error = "cannot write the settings in " + Folder;
            return false;
        }
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_DATA_HOME", Root + "/" + kDataHome);
        // The player's settings are Qt's, beside the data folder: not what the test cuts short.
        environment.insert("XDG_CONFIG_HOME", work("config"));
        QProcess launcher;
        launcher.setProcessEnvironment(environment);
        launcher.setWorkingDirectory(Folder);
        // What it says is in its log.
        launcher.setStandardOutputFile(QProcess::nullDevice());
        launcher.setStandardErrorFile(QProcess::nullDevice());
        launcher.start(Folder + "/launcher",
                       Run == ERun::FirstLaunch ? QStringList{"--first-launch"} : QStringList());
        QSignalSpy ended(&launcher, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished));
        bool done = waitFor([&] {
            if (Run != ERun::FirstLaunch && readBytes(logPath).contains(kInstallationsEndedLine))
                launcher.terminate();
            return ended.count() > 0;
        });
        // A launcher that updated itself started its next version detached.
        done = done && waitFor([&Folder] { return processesBelow(Folder).isEmpty(); });
        if (Log)
            *Log = readBytes(logPath);
        if (!done) {
            Error = "the launcher did not end: " + readBytes(logPath).right(1500);
            launcher.kill();
            endProcessesBelow(Folder);
        }
        return done;
    }

    // Ends clients (and launchers) still running from the folder: a client lives on after the
    // launcher that started it.
    static void endProcessesBelow(const QString& Folder)
    {
        for (const qint64 pid : processesBelow(Folder))
            ::kill(pid_t(pid), SIGKILL);
        waitFor([&Folder] { return processesBelow(Folder).isEmpty(); });
    }

    static bool copyFolder(const QString& From, const QString& To)
    {
        TTree tree;
        QString error;
        return powerloss::readTree(From, tree, error) && powerloss::writeTree(tree, To, error);
    }

    QTemporaryDir m_Work;
    TPublishedGame m_Game;
    std::unique_ptr<TNginxServer> m_pServer;
    QMap<int, QMap<QString, QByteArray>> m_Builds;
    QMap<QString, QByteArray> m_NextLauncher;
    EScenario m_Scenario = EScenario::FreshInstall;
};

QTEST_GUILESS_MAIN(TestPowerLoss)
#include "tst_powerloss.moc"
