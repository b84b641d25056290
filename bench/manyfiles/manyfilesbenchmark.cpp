// The real launcher installing a package of many small files (by default 200,000, each its own
// container, a document of about 95 MB) from a local nginx, with --first-launch and a private
// HOME. Prints the entry count, the document's size and the launcher's peak resident memory
// (VmHWM) against its target; exits with 1 above the target or when the install failed.
#include "launcherinstall.h"
#include "manyfilestree.h"
#include "nginxserver.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

using namespace manyfilesbench;
using testsupport::TLauncherInstall;
using testsupport::TNginxServer;

namespace {

constexpr double kPeakTargetMiB = 400;
constexpr int kDefaultEntries = 200000;

// VmHWM of a running process in KiB; 0 once it is gone.
qint64 highWaterMarkKiB(pid_t Process)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(Process));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

struct TLauncherRun
{
    int ExitCode = -1; // -1: did not end normally
    qint64 PeakKiB = 0;
    qint64 Milliseconds = 0;
};

// Runs the launcher to its end. The peak is VmHWM as last read from /proc and the kernel's
// maximum resident size when it ended, whichever is larger: the last moments are counted too.
TLauncherRun runLauncher(const QString& Executable, const QStringList& Arguments,
                         const QProcessEnvironment& Environment)
{
    std::vector<QByteArray> storage;
    storage.push_back(QFile::encodeName(Executable));
    for (const QString& argument : Arguments)
        storage.push_back(argument.toLocal8Bit());
    const size_t argumentCount = storage.size();
    for (const QString& variable : Environment.toStringList())
        storage.push_back(variable.toLocal8Bit());
    std::vector<char*> argv;
    std::vector<char*> envp;
    for (size_t i = 0; i < storage.size(); ++i)
        (i < argumentCount ? argv : envp).push_back(storage[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);

    // A profiler named in the environment runs the launcher: its peak is then the profiler's.
    const QStringList wrapper = QProcessEnvironment::systemEnvironment()
                                    .value(QStringLiteral("BENCH_MANYFILES_WRAPPER"))
                                    .split(QLatin1Char(' '), Qt::SkipEmptyParts);
    std::vector<QByteArray> wrapperStorage;
    for (const QString& part : wrapper)
        wrapperStorage.push_back(part.toLocal8Bit());
    for (auto it = wrapperStorage.rbegin(); it != wrapperStorage.rend(); ++it)
        argv.insert(argv.begin(), it->data());

    TLauncherRun run;
    QElapsedTimer timer;
    timer.start();
    pid_t process = 0;
    if (posix_spawnp(&process, argv[0], nullptr, nullptr, argv.data(), envp.data()) != 0)
        return run;
    int status = 0;
    rusage usage{};
    for (;;) {
        run.PeakKiB = std::max(run.PeakKiB, highWaterMarkKiB(process));
        const pid_t ended = wait4(process, &status, WNOHANG, &usage);
        if (ended == process)
            break;
        if (ended < 0)
            return run;
        QThread::msleep(50);
    }
    run.Milliseconds = timer.elapsed();
    run.PeakKiB = std::max<qint64>(run.PeakKiB, usage.ru_maxrss);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

QByteArray launcherConfiguration(const QUrl& Document)
{
    const QJsonObject build{{QStringLiteral("os"), QStringLiteral("linux")},
                            {QStringLiteral("architecture"), QStringLiteral("x86_64")},
                            {QStringLiteral("url"), Document.toString()}};
    const QJsonObject package{{QStringLiteral("name"), QStringLiteral("Many")},
                              {QStringLiteral("directoryname"), QStringLiteral("Many")},
                              {QStringLiteral("installautomatically"), true},
                              {QStringLiteral("builds"), QJsonArray{build}}};
    return QJsonDocument(QJsonObject{{QStringLiteral("packages"), QJsonArray{package}}}).toJson();
}

// The player's directories, all below Home, and no display.
QProcessEnvironment privateEnvironment(const QString& Home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), Home);
    environment.insert(QStringLiteral("XDG_DATA_HOME"), Home + QStringLiteral("/.local/share"));
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), Home + QStringLiteral("/.config"));
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), Home + QStringLiteral("/.cache"));
    environment.insert(QStringLiteral("TMPDIR"), Home + QStringLiteral("/tmp"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QDir().mkpath(Home + QStringLiteral("/tmp"));
    return environment;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    const QStringList arguments = application.arguments();
    const int entries = arguments.size() > 1 ? arguments[1].toInt() : kDefaultEntries;
    const int containers = arguments.size() > 2 ? arguments[2].toInt() : entries;
    if (entries <= 0 || containers <= 0) {
        out << "usage: bench_manyfiles [entries, default 200000] [distinct containers]\n";
        return 2;
    }
    if (!TNginxServer::isAvailable()) {
        out << "needs /usr/sbin/nginx (Debian's nginx-light)\n";
        return 2;
    }

    const QString root =
        QDir::tempPath() +
        QStringLiteral("/kestrun-bench-manyfiles-%1-%2").arg(entries).arg(containers);
    out << "making the tree in " << root << " (once)" << Qt::endl;
    TManyFilesTree tree;
    QString error;
    if (!makeManyFilesTree(root, entries, containers, tree, error)) {
        out << error << "\n";
        return 2;
    }
    TNginxServer nginx(tree.Root);
    TLauncherInstall install;
    QTemporaryDir home;
    QFile configuration(tree.Root + QStringLiteral("/launcher.json"));
    if (!nginx.start() || !install.isValid() || !home.isValid() ||
        !configuration.open(QIODevice::WriteOnly) ||
        configuration.write(launcherConfiguration(nginx.url(QLatin1Char('/') + tree.Document))) <
            0 ||
        !configuration.flush() ||
        !install.writeSettings(
            TLauncherInstall::settingsFor(nginx.url(QStringLiteral("/launcher.json"))))) {
        out << "could not serve the tree or set up the launcher: " << nginx.error() << "\n";
        return 2;
    }
    configuration.close();

    out << "installing " << entries << " entries (" << containers
        << " distinct containers), document " << double(tree.DocumentBytes) / 1e6 << " MB"
        << Qt::endl;
    const TLauncherRun run =
        runLauncher(install.executablePath(), {QStringLiteral("--first-launch")},
                    privateEnvironment(home.path()));
    const double peakMiB = double(run.PeakKiB) / 1024.0;
    out << "entries " << entries << " launcher exit " << run.ExitCode << " time "
        << double(run.Milliseconds) / 1000.0 << " s peak " << peakMiB << " MiB (target at most "
        << kPeakTargetMiB << ")\n";
    if (run.ExitCode != 0)
        out << "the install failed: see the log below " << home.path() << "\n";
    if (run.ExitCode != 0)
        home.setAutoRemove(false);
    return run.ExitCode == 0 && peakMiB <= kPeakTargetMiB ? 0 : 1;
}
