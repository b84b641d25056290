#include "curlreference.h"

#include "shared/container/containerdecoder.h"
#include "shared/hash/sha256.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QProcess>
#include <QtConcurrent>

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

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

struct TCpuCounters
{
    std::atomic<qint64> DecodeNs{0};
    std::atomic<qint64> HashNs{0};
    std::atomic<qint64> WriteNs{0};
};

// Every byte at its place, or false. A placement that would leave the directory is refused, as
// the launcher refuses it.
bool writePlacements(const QByteArray& Body, const std::vector<TPlacement>& Placements,
                     const QString& Directory)
{
    const QString root = QDir::cleanPath(Directory) + QLatin1Char('/');
    for (const TPlacement& placement : Placements) {
        const QString path = QDir::cleanPath(root + placement.RelativePath);
        if (!path.startsWith(root) || !QDir().mkpath(QFileInfo(path).path()))
            return false;
        const int descriptor =
            ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (descriptor < 0)
            return false;
        bool written = true;
        for (qint64 done = 0; written && done < Body.size();) {
            const ssize_t step = ::pwrite(descriptor, Body.constData() + done,
                                          std::size_t(Body.size() - done), placement.Offset + done);
            written = step > 0;
            done += written ? step : 0;
        }
        if (::close(descriptor) != 0 || !written)
            return false;
    }
    return true;
}

// The body as the launcher treats it: decoded when it is a container, written to its places when
// WriteDirectory is set, then its digest checked.
bool decodeAndHash(const QString& path, const TContainer& Container, const QString& WriteDirectory,
                   TCpuCounters& Counters)
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
    const bool written =
        WriteDirectory.isEmpty() || writePlacements(unpacked, Container.Placements, WriteDirectory);
    const qint64 wrote = threadCpuNanoseconds();
    const bool correct = written && shared::sha256(unpacked) == Container.UnpackedHash;
    Counters.DecodeNs += decoded - start;
    Counters.WriteNs += wrote - decoded;
    Counters.HashNs += threadCpuNanoseconds() - wrote;
    return correct;
}

} // namespace

TReferenceOutcome runCurlReference(const std::vector<TContainer>& Containers,
                                   const QString& Directory, int Parallel,
                                   const QString& WriteDirectory)
{
    TReferenceOutcome outcome;
    QDir().mkpath(Directory);
    QEventLoop loop;
    std::size_t next = 0;
    std::size_t finished = 0;
    int running = 0;
    bool correct = true;
    TCpuCounters counters;
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
            QObject::connect(
                curl, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), &loop,
                [&, curl, path, pContainer = &container](int code, QProcess::ExitStatus status) {
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
                        watcher->setFuture(QtConcurrent::run([&, path, pContainer] {
                            return decodeAndHash(path, *pContainer, WriteDirectory, counters);
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
    outcome.DecodeCpuSeconds = double(counters.DecodeNs) / 1e9;
    outcome.HashCpuSeconds = double(counters.HashNs) / 1e9;
    outcome.WriteCpuSeconds = double(counters.WriteNs) / 1e9;
    outcome.Correct = correct;
    return outcome;
}

} // namespace installbench
