// What a broken place costs when the tree is served from two: fresh installs of a stored package
// from nginx, each connection limited to a fixed rate as a distant line limits it, timed
//  1. from one healthy origin,
//  2. with the first place refusing connections and nginx as its mirror,
//  3. with nginx first and a mirror that refuses connections,
// and the time of 2 and 3 against 1 (target at most 1.2).
#include "installrun.h"
#include "nginxserver.h"
#include "storedpackage.h"

#include <QCoreApplication>
#include <QDir>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTextStream>

using installbench::installInChildProcess;
using installbench::TInstallOutcome;
using testsupport::TNginxServer;

namespace {

constexpr double kTarget = 1.2;
constexpr int kConnections = 10;

// An address on loopback where nothing listens: the port was free a moment ago.
QUrl refusingPlace()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost))
        return {};
    QUrl url(QStringLiteral("http://127.0.0.1/"));
    url.setPort(probe.serverPort());
    return url;
}

TInstallOutcome install(const QString& Document, const QUrl& Base, const QList<QUrl>& Mirrors)
{
    QTemporaryDir work;
    return installInChildProcess(
        Document, Base, work.filePath(QStringLiteral("i")),
        QStringLiteral("maxConcurrentDownloads=%1\nmaxCachedChunks=100\n").arg(kConnections),
        Mirrors);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type == QtCriticalMsg || type == QtFatalMsg)
            QTextStream(stderr) << message << "\n";
    });
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == installbench::kInstallChildArgument)
        return installbench::runInstallChild(arguments.mid(2));
    const qint64 perConnection = arguments.value(1, QStringLiteral("512")).toLongLong() * 1024;
    const QDir data(
        arguments.value(2, QDir::temp().filePath(QStringLiteral("kestrun-mirrors-bench"))));
    QTextStream out(stdout);
    if (perConnection <= 0) {
        out << "usage: bench_mirrors [KiB/s per connection, default 512] [data directory]\n";
        return 2;
    }
    // About 15 s at ten times the rate.
    const QString document = connectionsbench::prepareStoredPackage(
        perConnection * kConnections * 15 / 1048576, data.filePath(QStringLiteral("stored")),
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestrun-publish")));
    if (document.isEmpty())
        return 1;
    TNginxServer server(data.filePath(QStringLiteral("stored/cdn")));
    server.setRateLimit(QByteArray::number(perConnection / 1024) + "k");
    if (!server.start()) {
        out << "nginx does not start: " << server.error() << "\n";
        return 1;
    }
    const QUrl healthy = server.url(QStringLiteral("/"));
    const QUrl refusing = refusingPlace();

    const TInstallOutcome alone = install(document, healthy, {});
    out << "1. one healthy origin: " << alone.Milliseconds << " ms"
        << (alone.Verified ? "" : ", NOT INSTALLED") << "\n";
    out.flush();
    bool ok = alone.Verified;
    const struct
    {
        const char* What;
        QUrl Base;
        QUrl Mirror;
    } cases[] = {{"2. the first place refuses connections, nginx second", refusing, healthy},
                 {"3. nginx first, the second place refuses connections", healthy, refusing}};
    for (const auto& one : cases) {
        const TInstallOutcome run = install(document, one.Base, {one.Mirror});
        const double ratio =
            double(run.Milliseconds) / double(std::max<qint64>(alone.Milliseconds, 1));
        out << one.What << ": " << run.Milliseconds << " ms"
            << (run.Verified ? "" : ", NOT INSTALLED")
            << "\n   time against one healthy origin: " << QString::number(ratio, 'f', 3)
            << " (target <= " << kTarget << ")\n";
        out.flush();
        ok = ok && run.Verified && ratio <= kTarget;
    }
    return ok ? 0 : 1;
}
