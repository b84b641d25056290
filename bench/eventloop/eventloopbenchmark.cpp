// How long the window's event loop is held by the launcher's own work: a fresh install of a
// package of many small files from a local nginx, then the verification of a larger installed
// package, each through the installation manager with the window's tile showing the progress
// offscreen, the launcher's log written as in real use, and two busy processes beside it. Prints
// the largest delay of a 10 ms timer in each phase against the target, and the kinds of events
// that took longest to handle.
#include "benchtrees.h"
#include "nginxserver.h"
#include "testfiles.h"

#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/packagebuild.h"
#include "launcher/ui/clientpackagelayoutitem.h"
#include "shared/platform/eventloopwatch.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTextStream>
#include <QThread>
#include <QWidget>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

using namespace orvik::launcher;
using testsupport::TNginxServer;

namespace {

constexpr qint64 kTargetMs = 50;
constexpr int kBusyProcesses = 2;

// Times every event the GUI thread handles at the outermost level, by receiver class and event
// type: where the loop was held, without a profiler.
class TTimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject* pReceiver, QEvent* pEvent) override
    {
        // Every thread's events pass here; only the window's thread is of interest.
        if (!m_bRecording || m_Depth > 0 || QThread::currentThread() != thread())
            return QApplication::notify(pReceiver, pEvent);
        const char* className = pReceiver->metaObject()->className();
        const int type = int(pEvent->type());
        QElapsedTimer timer;
        timer.start();
        ++m_Depth;
        const bool handled = QApplication::notify(pReceiver, pEvent);
        --m_Depth;
        TSlowest& entry = m_Slowest[{className, type}];
        entry.LongestNs = std::max(entry.LongestNs, timer.nsecsElapsed());
        entry.TotalNs += timer.nsecsElapsed();
        ++entry.Count;
        return handled;
    }

    void startRecording()
    {
        m_Slowest.clear();
        m_bRecording = true;
    }

    void printSlowest(QTextStream& Out, size_t Count)
    {
        m_bRecording = false;
        std::vector<std::pair<std::pair<QByteArray, int>, TSlowest>> entries(m_Slowest.begin(),
                                                                             m_Slowest.end());
        std::sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return a.second.LongestNs > b.second.LongestNs;
        });
        entries.resize(std::min(entries.size(), Count));
        for (const auto& [key, slowest] : entries)
            Out << "    " << key.first << " event " << key.second << ": longest "
                << QString::number(double(slowest.LongestNs) / 1e6, 'f', 1) << " ms, "
                << slowest.Count << " events, "
                << QString::number(double(slowest.TotalNs) / 1e6, 'f', 0) << " ms in all\n";
    }

private:
    struct TSlowest
    {
        qint64 LongestNs = 0;
        qint64 TotalNs = 0;
        qint64 Count = 0;
    };
    std::map<std::pair<QByteArray, int>, TSlowest> m_Slowest;
    bool m_bRecording = false;
    int m_Depth = 0;
};

void warmPageCache(const QString& Directory)
{
    QByteArray buffer(1 << 24, Qt::Uninitialized);
    QDirIterator files(Directory, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        QFile file(files.next());
        if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
            while (file.read(buffer.data(), buffer.size()) > 0) {
            }
    }
}

QByteArray packageObject(const QString& Name, const QString& DirectoryName)
{
    return "{\"name\": \"" + Name.toUtf8() + "\", \"directoryname\": \"" + DirectoryName.toUtf8() +
           "\", \"builds\": [{\"os\": \"linux\", \"architecture\": \"x86_64\", \"url\": "
           "\"x.json\"}]}";
}

struct TPhaseOutcome
{
    qint64 LargestDelayMs = -1;
    qint64 Milliseconds = 0;
    bool Ok = false;
};

// Runs one installation or verification to its end while the watch measures the loop, as the
// launcher's own line does: from the start of the installation to the end of all of them.
TPhaseOutcome measure(TTimedApplication& Application, TInstallationManager& Manager,
                      const std::shared_ptr<TPackage>& Package, const std::function<void()>& Start)
{
    TPhaseOutcome outcome;
    ::shared::TEventLoopWatch watch;
    QEventLoop loop;
    const QMetaObject::Connection started =
        QObject::connect(&Manager, &TInstallationManager::installationOrUpdateStarted, &watch,
                         [&] { watch.start(); });
    const QMetaObject::Connection ended =
        QObject::connect(&Manager, &TInstallationManager::allStartedUpdatesFinished, &loop, [&] {
            outcome.LargestDelayMs = watch.stop();
            loop.quit();
        });
    Application.startRecording();
    QElapsedTimer timer;
    timer.start();
    Start();
    loop.exec();
    outcome.Milliseconds = timer.elapsed();
    QObject::disconnect(started);
    QObject::disconnect(ended);
    outcome.Ok = Package->getLocalStatus() == ELocalPackageStatus::Installed;
    return outcome;
}

void printPhase(QTextStream& Out, TTimedApplication& Application, const QString& What,
                const TPhaseOutcome& Outcome)
{
    Out << What << ": " << Outcome.Milliseconds << " ms" << (Outcome.Ok ? "" : ", FAILED")
        << "\n  largest delay of the event loop: " << Outcome.LargestDelayMs
        << " ms (target <= " << kTargetMs << ")\n  longest events:\n";
    Application.printSlowest(Out, 6);
    Out.flush();
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TTimedApplication application(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = QCoreApplication::arguments();
    const qint64 installMiB = arguments.value(1, QStringLiteral("1024")).toLongLong();
    const qint64 verifyMiB = arguments.value(2, QStringLiteral("2048")).toLongLong();
    const QString dataDirectory =
        arguments.value(3, QDir::temp().filePath(QStringLiteral("kestrun-eventloop-bench")));
    if (installMiB < 16 || verifyMiB < 16) {
        out << "usage: bench_eventloop [install MiB, default 1024] [verification MiB, default "
               "2048] [data directory]\n";
        return 2;
    }
    if (!TNginxServer::isAvailable()) {
        out << "needs /usr/sbin/nginx (Debian's nginx-light)\n";
        return 2;
    }

    // The player's directories below the data directory, so the log and the packages are where
    // the launcher puts them, and nothing of the user's is touched.
    const QString home = QDir(dataDirectory).filePath(QStringLiteral("home"));
    qputenv("XDG_DATA_HOME", QFile::encodeName(home + QStringLiteral("/.local/share")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home + QStringLiteral("/.config")));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(home + QStringLiteral("/.cache")));
    const QString packages = testsupport::kestrunDataDirectory() + QStringLiteral("/packages");
    QDir().mkpath(packages);

    const QString document = eventloopbench::preparePublishedBuild(
        installMiB, QDir(dataDirectory).filePath(QStringLiteral("published-%1").arg(installMiB)),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestrun-publish")));
    const QString verifyName = QStringLiteral("Verify-%1").arg(verifyMiB);
    const QString verifyDirectory = packages + QLatin1Char('/') + verifyName;
    const QByteArray installedDocument =
        eventloopbench::prepareInstalledTree(verifyMiB, verifyDirectory);
    QFile documentFile(document);
    const QString appDirectory = QDir(dataDirectory).filePath(QStringLiteral("app"));
    if (document.isEmpty() || installedDocument.isEmpty() ||
        !documentFile.open(QIODevice::ReadOnly) ||
        !testsupport::writeBytes(appDirectory + QStringLiteral("/launchersettings.ini"),
                                 "[DIRECTORIES]\npackages=packages\n[FILES]\n"
                                 "packageFile=package.json\npartialPackageFile=partial-package."
                                 "json\nassetFile=assets.json\n[OPTIONS]\n"
                                 "skipVerification=false\n") ||
        !testsupport::writeBytes(verifyDirectory + QStringLiteral("/package.json"),
                                 installedDocument))
        return 2;
    const QByteArray publishedDocument = documentFile.readAll();
    // A fresh install each run.
    QDir(packages + QStringLiteral("/Bench")).removeRecursively();

    const QString cdn = QFileInfo(document).absolutePath();
    // Before the launcher's names are set: nginx's work directory is named after the application,
    // and nginx cannot take a path with a space.
    TNginxServer server(cdn);
    testsupport::useLauncherIdentity();
    setupLogging();
    if (!server.start()) {
        out << "nginx does not serve " << cdn << ": " << server.error() << "\n";
        return 2;
    }
    warmPageCache(cdn);
    warmPageCache(verifyDirectory);

    const QUrl base = server.url(QStringLiteral("/"));
    auto configuration = std::make_shared<TLauncherConfigurationReader>(
        "{\"packages\": [" + packageObject(QStringLiteral("Bench"), QStringLiteral("Bench")) +
            ", " + packageObject(QStringLiteral("Verify"), verifyName) + "]}",
        QUrl());
    const std::shared_ptr<TPackage> install = configuration->getPackages().at(0);
    const std::shared_ptr<TPackage> verify = configuration->getPackages().at(1);
    install->getBuilds()[0]->m_pConfiguration = std::make_shared<TPackageConfigurationReader>(
        QByteArray(publishedDocument), QByteArray(), base, base);
    verify->getBuilds()[0]->m_pConfiguration = std::make_shared<TPackageConfigurationReader>(
        QByteArray(installedDocument), QByteArray(), base, base);
    TInstallationManager manager(configuration,
                                 std::make_shared<TLauncherFilesystemHelper>(appDirectory));

    // The window's tiles, wired to the installations as the window wires them.
    QWidget window;
    auto* tiles = new QVBoxLayout(&window);
    std::map<qint32, TClientPackageLayoutItem*> tileOf;
    for (const auto& package : {install, verify}) {
        auto* tile = new TClientPackageLayoutItem(package, true);
        tiles->addLayout(tile);
        tileOf[package->getIndex()] = tile;
    }
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateStarted, &window,
                     [&](TPackageInstallation* pInstallation) {
                         tileOf.at(pInstallation->getPackage()->getIndex())
                             ->onInstallationOrUpdateStarted(pInstallation);
                     });
    QObject::connect(&manager, &TInstallationManager::installationOrUpdateFinished, &window,
                     [&](TPackageInstallation* pInstallation) {
                         tileOf.at(pInstallation->getPackage()->getIndex())
                             ->onInstallationOrUpdateFinished(pInstallation);
                     });
    window.resize(900, 500);
    window.show();

    // The machine is busy with other work, as a player's is.
    std::vector<std::unique_ptr<QProcess>> load;
    for (int i = 0; i < kBusyProcesses; ++i) {
        load.push_back(std::make_unique<QProcess>());
        load.back()->start(QStringLiteral("sha256sum"), {QStringLiteral("/dev/zero")});
        if (!load.back()->waitForStarted()) {
            out << "could not start sha256sum beside the benchmark\n";
            return 2;
        }
    }

    const int files = int(install->getConfiguration()->getFiles().size());
    out << "load: " << kBusyProcesses << " x sha256sum /dev/zero on " << QThread::idealThreadCount()
        << " cores; log: " << logFilePath() << "\n";
    out.flush();
    const TPhaseOutcome installed =
        measure(application, manager, install, [&] { manager.installOrUpdatePackage(install); });
    printPhase(out, application,
               QStringLiteral("install of %1 MiB in %2 files (download and verification)")
                   .arg(installMiB)
                   .arg(files),
               installed);
    const TPhaseOutcome verified =
        measure(application, manager, verify, [&] { manager.verifyPackage(verify); });
    printPhase(out, application,
               QStringLiteral("verification of %1 MiB in %2 files")
                   .arg(verifyMiB)
                   .arg(verify->getConfiguration()->getFiles().size()),
               verified);

    for (const auto& process : load) {
        process->kill();
        process->waitForFinished();
    }
    server.stop();
    flushLog();
    const bool met = installed.LargestDelayMs <= kTargetMs && verified.LargestDelayMs <= kTargetMs;
    out << "largest delay: install " << installed.LargestDelayMs << " ms, verification "
        << verified.LargestDelayMs << " ms (target <= " << kTargetMs << " ms)"
        << (met ? "" : ", ABOVE TARGET") << "\n";
    return installed.Ok && verified.Ok && met ? 0 : 1;
}
