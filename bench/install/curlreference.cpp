#include "curlreference.h"

#include "shared/container/containerdecoder.h"
#include "shared/hash/sha256.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QProcess>
#include <QtConcurrent>

#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <functional>

namespace installbench {

namespace {

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

double childrenCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The body as the launcher treats it: decoded when it is a container, then its digest checked.
bool decodeAndHash(const QString& path, const QByteArray& expected, std::atomic<qint64>& decodeNs,
                   std::atomic<qint64>& hashNs)
{
    const qint64 start = threadCpuNanoseconds();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    QByteArray unpacked;
    try {
        unpacked = shared::decodeContainerStrict(file.readAll());
    } catch (const std::exception&) {
        return false;
    }
    const qint64 decoded = threadCpuNanoseconds();
    const bool correct = shared::sha256(unpacked) == expected;
    decodeNs += decoded - start;
    hashNs += threadCpuNanoseconds() - decoded;
    return correct;
}

} // namespace

TReferenceOutcome runCurlReference(const std::vector<TContainer>& Containers,
                                   const QString& Directory, int Parallel)
{
    TReferenceOutcome outcome;
    QDir().mkpath(Directory);
    QEventLoop loop;
    std::size_t next = 0;
    std::size_t finished = 0;
    int running = 0;
    bool correct = true;
    std::atomic<qint64> decodeNs{0};
    std::atomic<qint64> hashNs{0};
    QElapsedTimer timer;

    auto finishOne = [&](bool ok) {
        correct = correct && ok;
        if (++finished == Containers.size())
            loop.quit();
    };
    std::function<void()> startMore = [&] {
        while (running < Parallel && next < Containers.size()) {
            const TContainer& container = Containers[next];
            const QString path = QDir(Directory).filePath(QString::number(next));
            ++next;
            ++running;
            auto* curl = new QProcess(&loop);
            QObject::connect(curl, &QProcess::errorOccurred, &loop,
                             [&, curl](QProcess::ProcessError error) {
                                 if (error != QProcess::FailedToStart)
                                     return;
                                 --running;
                                 curl->deleteLater();
                                 finishOne(false);
                                 startMore();
                             });
            QObject::connect(curl, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
                             [&, curl, path, hash = container.UnpackedHash](
                                 int code, QProcess::ExitStatus status) {
                                 --running;
                                 curl->deleteLater();
                                 if (next == Containers.size() && running == 0)
                                     outcome.FetchMilliseconds = timer.elapsed();
                                 if (status != QProcess::NormalExit || code != 0) {
                                     finishOne(false);
                                 } else {
                                     auto* watcher = new QFutureWatcher<bool>(&loop);
                                     QObject::connect(watcher, &QFutureWatcherBase::finished, &loop,
                                                      [&, watcher] {
                                                          watcher->deleteLater();
                                                          finishOne(watcher->result());
                                                      });
                                     watcher->setFuture(QtConcurrent::run([&, path, hash] {
                                         return decodeAndHash(path, hash, decodeNs, hashNs);
                                     }));
                                 }
                                 startMore();
                             });
            curl->start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("-o"), path,
                                                 container.Url.toString()});
        }
    };

    const double curlCpuBefore = childrenCpuSeconds();
    timer.start();
    startMore();
    if (!Containers.empty())
        loop.exec();
    outcome.Milliseconds = timer.elapsed();
    outcome.CurlCpuSeconds = childrenCpuSeconds() - curlCpuBefore;
    outcome.DecodeCpuSeconds = double(decodeNs) / 1e9;
    outcome.HashCpuSeconds = double(hashNs) / 1e9;
    outcome.Correct = correct;
    return outcome;
}

} // namespace installbench
