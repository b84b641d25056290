// What the per-installation pool makes of a line that limits each connection, and of a pool-wide
// speed limit, through fresh installs of a stored package served by nginx:
//  1. every connection limited to a fixed rate (nginx's limit_rate, standing in for what a
//     distant or lossy line does to each TCP connection): the install's rate against
//     maxConcurrentDownloads times that rate (target at least 0.95), and the connections nginx saw;
//  2. maxDownloadRate=2000000 on an unlimited server: the average over about 30 s against the
//     limit (target within 5%);
//  3. with --shaped, a line shaped by netem on the loopback of a private network namespace:
//     10 connections against 1. Where the kernel lacks netem it says so and skips that part.
#include "installrun.h"
#include "nginxserver.h"
#include "storedpackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>

#include <cmath>

using installbench::installInChildProcess;
using installbench::TInstallOutcome;
using testsupport::TNginxServer;

namespace {

constexpr int kConnections = 10;
constexpr double kConnectionTarget = 0.95;
constexpr qint64 kSpeedLimit = 2000000;
constexpr double kSpeedTolerance = 0.05;
const QString kShapedChild = QStringLiteral("--shaped-child");

struct TRun
{
    TInstallOutcome Install;
    qint64 Bytes = 0;
    int Connections = 0;
    double Rate = 0; // bytes per second
};

// One fresh install from Server with the given [OPTIONS] lines, measured by nginx's own log.
TRun install(TNginxServer& Server, const QString& Document, const QString& Options)
{
    TRun run;
    Server.clearAccessLog();
    QTemporaryDir work;
    run.Install = installInChildProcess(Document, Server.url(QStringLiteral("/")),
                                        work.filePath(QStringLiteral("i")), Options);
    QSet<qint64> connections;
    for (const auto& entry : Server.accessLog()) {
        run.Bytes += entry.bytesSent;
        connections.insert(entry.connection);
    }
    run.Connections = connections.size();
    run.Rate = double(run.Bytes) / (double(std::max<qint64>(run.Install.Milliseconds, 1)) / 1e3);
    return run;
}

QString mib(double Bytes)
{
    return QString::number(Bytes / 1048576.0, 'f', 2);
}

QString options(int Connections, qint64 Rate)
{
    return QStringLiteral("maxConcurrentDownloads=%1\nmaxCachedChunks=100\nmaxDownloadRate=%2\n")
        .arg(Connections)
        .arg(Rate);
}

bool connectionLimited(const QString& Cdn, const QString& Document, qint64 PerConnection,
                       QTextStream& out)
{
    TNginxServer server(Cdn);
    server.setRateLimit(QByteArray::number(PerConnection / 1024) + "k");
    if (!server.start()) {
        out << "nginx does not start: " << server.error() << "\n";
        return false;
    }
    const TRun run = install(server, Document, options(kConnections, 0));
    const double ratio = run.Rate / double(kConnections * PerConnection);
    out << "1. every connection limited to " << PerConnection / 1024
        << " KiB/s: " << mib(double(run.Bytes)) << " MiB in " << run.Install.Milliseconds
        << " ms = " << mib(run.Rate) << " MiB/s over " << run.Connections << " connections"
        << (run.Install.Verified ? "" : ", NOT INSTALLED") << "\n"
        << "   ratio to " << kConnections << " x the rate: " << QString::number(ratio, 'f', 3)
        << " (target >= " << kConnectionTarget << ", " << kConnections << " connections)\n";
    out.flush();
    return run.Install.Verified && ratio >= kConnectionTarget && run.Connections == kConnections;
}

bool speedLimited(const QString& Cdn, const QString& Document, QTextStream& out)
{
    TNginxServer server(Cdn);
    if (!server.start()) {
        out << "nginx does not start: " << server.error() << "\n";
        return false;
    }
    const TRun run = install(server, Document, options(kConnections, kSpeedLimit));
    const double deviation = run.Rate / double(kSpeedLimit) - 1;
    out << "2. maxDownloadRate=" << kSpeedLimit << ": " << run.Bytes << " bytes in "
        << run.Install.Milliseconds << " ms = " << qint64(run.Rate) << " bytes/s over "
        << run.Connections << " connections" << (run.Install.Verified ? "" : ", NOT INSTALLED")
        << "\n   deviation from the limit: " << QString::number(deviation * 100, 'f', 2)
        << "% (target within " << kSpeedTolerance * 100 << "%)\n";
    out.flush();
    return run.Install.Verified && std::abs(deviation) <= kSpeedTolerance;
}

// Inside the namespace: nginx without limits on the shaped loopback, 1 and 10 connections.
int shapedChild(const QString& Cdn, const QString& Document)
{
    QTextStream out(stdout);
    TNginxServer server(Cdn);
    if (!server.start()) {
        out << "nginx does not start: " << server.error() << "\n";
        return 1;
    }
    const TRun one = install(server, Document, options(1, 0));
    const TRun all = install(server, Document, options(kConnections, 0));
    out << "3. shaped line: 1 connection " << mib(one.Rate) << " MiB/s, " << all.Connections
        << " connections " << mib(all.Rate) << " MiB/s, ratio "
        << QString::number(all.Rate / std::max(one.Rate, 1.0), 'f', 2) << " (ideal " << kConnections
        << ")\n";
    return one.Install.Verified && all.Install.Verified ? 0 : 1;
}

// Shapes the loopback of a new user and network namespace with netem and runs the shaped part
// in it; nothing outside the namespace is touched.
bool shaped(const QString& DataDirectory, const QString& Netem, QTextStream& out)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(QStringLiteral("unshare"),
                {QStringLiteral("-rn"), QStringLiteral("sh"), QStringLiteral("-c"),
                 QStringLiteral("ip link set lo up && tc qdisc add dev lo root netem %1 && "
                                "exec \"$0\" %2 \"$1\"")
                     .arg(Netem, kShapedChild),
                 QCoreApplication::applicationFilePath(), DataDirectory});
    child.waitForFinished(-1);
    const QString said = QString::fromUtf8(child.readAll()).trimmed();
    if (said.contains(QLatin1String("qdisc kind is unknown"))) {
        out << "3. shaped line: skipped, this kernel has no netem (tc: " << said << ")\n";
        return true;
    }
    out << said << "\n";
    return child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            QTextStream(stderr) << message << "\n";
    });
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == installbench::kInstallChildArgument)
        return installbench::runInstallChild(arguments.mid(2));
    const QString defaultData = QDir::temp().filePath(QStringLiteral("kestrun-connections-bench"));
    if (arguments.value(1) == kShapedChild) {
        const QDir data(arguments.value(2));
        return shapedChild(data.filePath(QStringLiteral("large/cdn")),
                           data.filePath(QStringLiteral("large/cdn/bench-1.json")));
    }
    const bool withShaping = arguments.removeAll(QStringLiteral("--shaped")) > 0;
    // 256 KiB/s per connection: containers of 256 to 768 KiB take seconds each, so the end of
    // the install, when fewer than ten are left, costs about one second out of a minute.
    const qint64 perConnection = arguments.value(1, QStringLiteral("256")).toLongLong() * 1024;
    const QDir data(arguments.value(2, defaultData));
    QTextStream out(stdout);
    if (perConnection <= 0) {
        out << "usage: bench_connections [KiB/s per connection, default 256] [data directory] "
               "[--shaped]\n";
        return 2;
    }
    const QString publisher =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestrun-publish"));
    // About a minute at ten times the rate; the speed limit's package about 30 s at 2 MB/s.
    const QString large =
        connectionsbench::prepareStoredPackage(perConnection * kConnections * 60 / 1048576,
                                               data.filePath(QStringLiteral("large")), publisher);
    const QString small = connectionsbench::prepareStoredPackage(
        kSpeedLimit * 30 / 1048576, data.filePath(QStringLiteral("small")), publisher);
    if (large.isEmpty() || small.isEmpty())
        return 1;
    bool ok =
        connectionLimited(data.filePath(QStringLiteral("large/cdn")), large, perConnection, out);
    ok = speedLimited(data.filePath(QStringLiteral("small/cdn")), small, out) && ok;
    if (withShaping)
        ok = shaped(data.path(), QStringLiteral("delay 25ms loss 0.5%"), out) && ok;
    return ok ? 0 : 1;
}
