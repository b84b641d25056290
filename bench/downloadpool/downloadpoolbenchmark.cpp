// Fetches the same large bodies from one local server through the download pool and through
// curl, and prints the ratio of their wall times. The pool should add next to nothing to what
// the network stack costs anyway.
#include "blobhttpserver.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <memory>

namespace {

constexpr int kParallel = 6;
constexpr int kRounds = 5;

QList<QUrl> blobUrls(std::uint16_t port, int count, int round)
{
    QList<QUrl> urls;
    for (int i = 0; i < count; ++i)
        urls << QUrl(QStringLiteral("http://127.0.0.1:%1/blob/%2/%3").arg(port).arg(round).arg(i));
    return urls;
}

// Wall time in ms, or -1 when a download failed or came back short.
qint64 runPool(const QList<QUrl>& urls, qint64 bodySize)
{
    auto manager = std::make_shared<QNetworkAccessManager>();
    shared::TDownloadPool pool(
        kParallel, std::make_shared<shared::QNetworkAccessManagerWrapper>(manager), true);
    int outstanding = urls.size();
    bool ok = true;
    QEventLoop loop;
    QObject::connect(&pool, &shared::TDownloadPool::success, [&](QUrl, QByteArray data) {
        ok = ok && data.size() == bodySize;
        if (--outstanding == 0)
            loop.quit();
    });
    QObject::connect(&pool, &shared::TDownloadPool::failed,
                     [&](QUrl url, QNetworkReply::NetworkError, QString text) {
                         QTextStream(stderr) << url.toString() << ": " << text << "\n";
                         ok = false;
                         if (--outstanding == 0)
                             loop.quit();
                     });
    QElapsedTimer timer;
    timer.start();
    for (const QUrl& url : urls)
        pool.queueDownload(url);
    loop.exec();
    return ok ? timer.elapsed() : -1;
}

// The same downloads straight through a QNetworkAccessManager, kParallel at a time: what the
// pool costs on top of Qt's own HTTP stack.
qint64 runManager(const QList<QUrl>& urls, qint64 bodySize)
{
    QNetworkAccessManager manager;
    QList<QUrl> waiting = urls;
    int outstanding = urls.size();
    bool ok = true;
    QEventLoop loop;
    std::function<void()> startNext = [&] {
        QNetworkReply* pReply = manager.get(QNetworkRequest(waiting.takeFirst()));
        QObject::connect(pReply, &QNetworkReply::finished, [&, pReply] {
            ok = ok && pReply->error() == QNetworkReply::NoError &&
                 pReply->readAll().size() == bodySize;
            pReply->deleteLater();
            if (!waiting.isEmpty())
                startNext();
            if (--outstanding == 0)
                loop.quit();
        });
    };
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kParallel && !waiting.isEmpty(); ++i)
        startNext();
    loop.exec();
    return ok ? timer.elapsed() : -1;
}

// curl with the bodies sent to /dev/null (outputDirectory empty) or kept as files.
qint64 runCurl(const QList<QUrl>& urls, const QString& outputDirectory)
{
    QStringList arguments{QStringLiteral("--silent"),
                          QStringLiteral("--show-error"),
                          QStringLiteral("--no-progress-meter"),
                          QStringLiteral("--fail"),
                          QStringLiteral("--parallel"),
                          QStringLiteral("--parallel-max"),
                          QString::number(kParallel),
                          QStringLiteral("--parallel-immediate")};
    for (int i = 0; i < urls.size(); ++i)
        arguments << QStringLiteral("--output")
                  << (outputDirectory.isEmpty() ? QStringLiteral("/dev/null")
                                                : outputDirectory + QStringLiteral("/%1").arg(i))
                  << urls[i].toString();
    QProcess curl;
    curl.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QElapsedTimer timer;
    timer.start();
    curl.start(QStringLiteral("curl"), arguments);
    if (!curl.waitForFinished(-1) || curl.exitStatus() != QProcess::NormalExit ||
        curl.exitCode() != 0)
        return -1;
    return timer.elapsed();
}

// Resets the peak resident size of this process (Linux 4.0 and later); false when refused.
bool resetPeakMemory()
{
    QFile control(QStringLiteral("/proc/self/clear_refs"));
    return control.open(QIODevice::WriteOnly) && control.write("5") == 1 && control.flush();
}

// Peak resident size since the last reset, in MiB; -1 when unknown.
double peakMemoryMiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly | QIODevice::Text))
        return -1;
    for (QByteArray line = status.readLine(); !line.isEmpty(); line = status.readLine())
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int count = argc > 1 ? QString(argv[1]).toInt() : 8;
    const qint64 bodySize = (argc > 2 ? QString(argv[2]).toLongLong() : 64) * 1024 * 1024;
    QTextStream out(stdout);

    TBlobHttpServer server(static_cast<std::size_t>(bodySize));
    const std::uint16_t port = server.start();
    if (port == 0) {
        out << "cannot start the local server\n";
        return 1;
    }

    // Memory-backed files for the curl run that keeps its bodies, as the pool does.
    QTemporaryDir keep(QStringLiteral("/dev/shm/bench-XXXXXX"));

    // Alternating rounds with fresh URLs; the best round of each counts, which discounts
    // warm-up and noise from other processes.
    enum { Pool, Manager, CurlNull, CurlKeep, Runs };
    const char* const names[Runs] = {"pool", "QNetworkAccessManager alone", "curl to /dev/null",
                                     "curl to files in memory"};
    qint64 best[Runs] = {-1, -1, -1, -1};
    // Of this process, so of the in-process contenders only; the server's blob counts for both.
    double peak[Runs] = {-1, -1, -1, -1};
    const bool peakKnown = resetPeakMemory();
    int urlSet = 0;
    for (int round = 0; round < kRounds; ++round) {
        out << "round " << round << ":";
        for (int run = 0; run < Runs; ++run) {
            const QList<QUrl> urls = blobUrls(port, count, urlSet++);
            qint64 ms = -1;
            resetPeakMemory();
            switch (run) {
            case Pool:
                ms = runPool(urls, bodySize);
                break;
            case Manager:
                ms = runManager(urls, bodySize);
                break;
            case CurlNull:
                ms = runCurl(urls, QString());
                break;
            case CurlKeep:
                ms = keep.isValid() ? runCurl(urls, keep.path()) : 0;
                break;
            }
            if (ms < 0) {
                out << " " << names[run] << " failed\n";
                return 1;
            }
            out << " " << ms << " ms";
            if (peakKnown && (run == Pool || run == Manager))
                peak[run] = std::max(peak[run], peakMemoryMiB());
            best[run] = best[run] < 0 ? ms : std::min(best[run], ms);
        }
        out << "\n";
        out.flush();
    }
    server.stop();

    const double mib = double(count) * double(bodySize) / (1024.0 * 1024.0);
    out << count << " x " << bodySize / (1024 * 1024) << " MiB, " << kParallel
        << " at a time, best of " << kRounds << " rounds\n";
    for (int run = 0; run < Runs; ++run)
        out << names[run] << ": " << best[run] << " ms ("
            << qRound(mib * 1000.0 / std::max<qint64>(best[run], 1)) << " MiB/s)\n";
    const auto ratio = [&](int run) {
        return QString::number(double(best[Pool]) / double(std::max<qint64>(best[run], 1)), 'f', 2);
    };
    out << "ratio pool / curl to /dev/null: " << ratio(CurlNull) << "\n";
    out << "ratio pool / curl to files in memory: " << ratio(CurlKeep) << "\n";
    out << "ratio pool / QNetworkAccessManager alone: " << ratio(Manager) << " (target <= 1.05)\n";
    if (peakKnown)
        out << "peak memory of this process (the server's " << bodySize / (1024 * 1024)
            << " MiB body included): pool " << QString::number(peak[Pool], 'f', 0)
            << " MiB, QNetworkAccessManager alone " << QString::number(peak[Manager], 'f', 0)
            << " MiB\n";
    else
        out << "peak memory: unknown (/proc/self/clear_refs refused)\n";
    return 0;
}
