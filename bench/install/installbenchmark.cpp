// A fresh install through the launcher's installation, served by a local nginx, against the
// same containers fetched by 10 parallel curl processes and decoded and hashed with the same
// libraries, once without and once with writing the decoded bytes into the package's files, in
// one run; prints the times, both ratios and the install's peak memory against their targets.
// Without arguments it does so for 1100 MiB and for 4 GiB of the same shape.
#include "curlreference.h"
#include "installrun.h"
#include "nginxserver.h"
#include "packagemaker.h"

#include "launcher/configuration/packageconfigurationreader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QMap>
#include <QTemporaryDir>
#include <QTextStream>

using namespace installbench;
using orvik::launcher::TChunkInPackage;
using orvik::launcher::TPackageConfigurationReader;
using testsupport::TNginxServer;

namespace {

constexpr double kMiB = 1048576.0;
constexpr int kParallelCurls = 10;
// The install holds a window of bodies, not the package: its memory must not grow with it.
constexpr double kPeakTargetMiB = 256;
// Against the reference that writes what it decodes, as an install must; the one that only
// decodes is printed beside it for comparison with earlier runs.
constexpr double kRatioTarget = 0.90;
// A power cut must not leave a marker over files still in the cache; the sync that prevents it
// must not make the player wait noticeably longer.
constexpr double kDurabilityTargetPercent = 5;
// Sizes of a run without arguments: the same shape twice, to show that memory stays flat.
const qint64 kDefaultSizes[] = {1100, 4096};

// Every container a fresh install fetches, each once, with every place its bytes go.
std::vector<TContainer> containersOf(const TPackageConfigurationReader& configuration)
{
    std::vector<TContainer> containers;
    QHash<QUrl, std::size_t> seen;
    auto add = [&](const TChunkInPackage& chunk, const QString& file, qint64 offset) {
        const auto found = seen.constFind(chunk.Url);
        if (found != seen.cend()) {
            containers[*found].Placements.push_back({file, offset});
            return;
        }
        seen.insert(chunk.Url, containers.size());
        containers.push_back({chunk.Url,
                              qint64(chunk.PackedSize),
                              qint64(chunk.UnpackedSize),
                              chunk.UnpackedHash,
                              {{file, offset}}});
    };
    for (const auto& file : configuration.getFiles()) {
        if (file.ChunkIndexes.empty())
            add(file.WholeFile, file.LocalFile, 0);
        qint64 offset = 0;
        for (const qint32 index : file.ChunkIndexes) {
            const TChunkInPackage& chunk = configuration.getChunks().at(size_t(index));
            add(chunk, file.LocalFile, offset);
            offset += qint64(chunk.UnpackedSize);
        }
    }
    return containers;
}

// The codec is the folder after "data/" in a container's URL.
void printCodecMix(QTextStream& out, const std::vector<TContainer>& containers, int files)
{
    struct TShare
    {
        int Count = 0;
        qint64 Packed = 0;
        qint64 Unpacked = 0;
    };
    QMap<QString, TShare> shares;
    TShare total;
    for (const TContainer& container : containers) {
        const QStringList parts = container.Url.path().split(QLatin1Char('/'));
        const int data = parts.indexOf(QStringLiteral("data"));
        for (TShare* share : {&shares[parts.value(data + 1, QStringLiteral("?"))], &total}) {
            ++share->Count;
            share->Packed += container.PackedSize;
            share->Unpacked += container.UnpackedSize;
        }
    }
    out << "package: " << files << " files, " << total.Count << " containers, "
        << QString::number(total.Unpacked / kMiB, 'f', 0) << " MiB unpacked, "
        << QString::number(total.Packed / kMiB, 'f', 0) << " MiB packed\n";
    for (auto it = shares.cbegin(); it != shares.cend(); ++it)
        out << "  " << qSetFieldWidth(8) << Qt::left << it.key() << qSetFieldWidth(0) << it->Count
            << " containers, " << QString::number(it->Unpacked / kMiB, 'f', 0) << " MiB -> "
            << QString::number(it->Packed / kMiB, 'f', 0) << " MiB\n";
}

// Both contenders then read the containers from the page cache, not the disk.
void warmPageCache(const QString& directory)
{
    QByteArray buffer(1 << 24, Qt::Uninitialized);
    QStringList pending{directory};
    while (!pending.isEmpty()) {
        const QDir dir(pending.takeLast());
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::Dirs | QDir::Files | QDir::NoDotAndDotDot)) {
            if (entry.isDir()) {
                pending << entry.filePath();
                continue;
            }
            QFile file(entry.filePath());
            if (file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
                while (file.read(buffer.data(), buffer.size()) > 0) {
                }
        }
    }
}

void keepOnlyWarnings()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            QTextStream(stderr) << message << "\n";
    });
}

struct TSizeOutcome
{
    qint64 Mebibytes = 0;
    bool Ok = false;
    double Ratio = 0; // against the writing reference
    double DecodingRatio = 0;
    double PeakMiB = 0;
};

TSizeOutcome benchmarkSize(qint64 mebibytes, const QString& dataDirectory, QTextStream& out)
{
    TSizeOutcome outcome;
    outcome.Mebibytes = mebibytes;
    out << "== " << mebibytes << " MiB ==\n";
    out.flush();
    const TPublishedPackage package = preparePublishedPackage(
        mebibytes, dataDirectory,
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestrun-publish")));
    if (package.DocumentPath.isEmpty())
        return outcome;

    QTemporaryDir work;
    TNginxServer server(package.CdnDirectory);
    if (!server.start()) {
        QTextStream(stderr) << "nginx does not serve " << package.CdnDirectory << ": "
                            << server.error() << "\n";
        return outcome;
    }
    const QUrl base(QStringLiteral("http://127.0.0.1:%1/").arg(server.port()));
    QFile document(package.DocumentPath);
    document.open(QIODevice::ReadOnly);
    const TPackageConfigurationReader configuration(document.readAll(), QByteArray(), base, base);
    const std::vector<TContainer> containers = containersOf(configuration);
    printCodecMix(out, containers, int(configuration.getFiles().size()));
    out.flush();
    warmPageCache(package.CdnDirectory);

    const TInstallOutcome install = installInChildProcess(
        package.DocumentPath, base, work.filePath(QStringLiteral("installation")));
    // The installed copy would only crowd the reference's files out of the page cache.
    QDir(work.filePath(QStringLiteral("installation"))).removeRecursively();
    const TReferenceOutcome reference =
        runCurlReference(containers, work.filePath(QStringLiteral("curl")), kParallelCurls);
    QDir(work.filePath(QStringLiteral("curl"))).removeRecursively();
    const TReferenceOutcome writing =
        runCurlReference(containers, work.filePath(QStringLiteral("curl")), kParallelCurls,
                         work.filePath(QStringLiteral("written")));
    QDir(work.filePath(QStringLiteral("written"))).removeRecursively();
    server.stop();

    outcome.Ok = install.Verified && reference.Correct && writing.Correct;
    outcome.Ratio =
        double(install.Milliseconds) / double(std::max<qint64>(writing.Milliseconds, 1));
    outcome.DecodingRatio =
        double(install.Milliseconds) / double(std::max<qint64>(reference.Milliseconds, 1));
    outcome.PeakMiB = install.PeakMiB;
    auto printReference = [&](const char* label, const TReferenceOutcome& run) {
        out << "curl x" << kParallelCurls << label << run.Milliseconds << " ms (fetching ended at "
            << run.FetchMilliseconds << " ms), CPU curl "
            << QString::number(run.CurlCpuSeconds, 'f', 1) << " s, read+decode "
            << QString::number(run.DecodeCpuSeconds, 'f', 1) << " s, pwrite "
            << QString::number(run.WriteCpuSeconds, 'f', 1) << " s, sha256 "
            << QString::number(run.HashCpuSeconds, 'f', 1) << " s"
            << (run.Correct ? "" : ", WRONG DATA") << "\n";
    };
    out << "launcher install:                     " << install.Milliseconds << " ms, CPU "
        << QString::number(install.CpuSeconds, 'f', 1) << " s"
        << (install.Verified ? ", verified" : ", NOT INSTALLED") << "\n"
        << "made durable before the marker:       " << install.DurableMilliseconds << " ms, "
        << QString::number(100.0 * double(install.DurableMilliseconds) /
                               double(std::max<qint64>(install.Milliseconds, 1)),
                           'f', 1)
        << "% of the install (target <= " << kDurabilityTargetPercent << "%)\n";
    printReference(" + decode + sha256:          ", reference);
    printReference(" + decode + pwrite + sha256: ", writing);
    out << "ratio launcher/decoding reference: " << QString::number(outcome.DecodingRatio, 'f', 2)
        << " (no target: it never writes)\n"
        << "ratio launcher/writing reference:  " << QString::number(outcome.Ratio, 'f', 2)
        << " (target <= " << QString::number(kRatioTarget, 'f', 2) << ")\n"
        << "peak memory of the install: " << QString::number(install.PeakMiB, 'f', 0)
        << " MiB (target <= " << kPeakTargetMiB << ")\n";
    out.flush();
    return outcome;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    keepOnlyWarnings();
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == kInstallChildArgument)
        return runInstallChild(arguments.mid(2));

    QTextStream out(stdout);
    std::vector<qint64> sizes(std::begin(kDefaultSizes), std::end(kDefaultSizes));
    if (arguments.size() > 1)
        sizes = {arguments[1].toLongLong()};
    if (sizes.front() < 64) {
        out << "usage: bench_install [MiB, default 1100 and 4096] [data directory]\n";
        return 2;
    }
    std::vector<TSizeOutcome> outcomes;
    for (const qint64 mebibytes : sizes)
        outcomes.push_back(benchmarkSize(
            mebibytes,
            arguments.value(2, QDir::temp().filePath(
                                   QStringLiteral("kestrun-install-bench-%1").arg(mebibytes))),
            out));

    bool ok = true;
    out << "summary (default settings):\n";
    for (const TSizeOutcome& outcome : outcomes) {
        out << "  " << qSetFieldWidth(5) << Qt::right << outcome.Mebibytes << qSetFieldWidth(0)
            << " MiB: ratio " << QString::number(outcome.Ratio, 'f', 2) << " of writing, "
            << QString::number(outcome.DecodingRatio, 'f', 2) << " of decoding, peak memory "
            << QString::number(outcome.PeakMiB, 'f', 0) << " MiB" << (outcome.Ok ? "" : ", FAILED")
            << "\n";
        ok = ok && outcome.Ok;
    }
    return ok ? 0 : 1;
}
