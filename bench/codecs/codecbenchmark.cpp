// Zstandard against LZMA on the same real data in one run: the packed size, the decoding CPU per
// unpacked byte (every container decoded on one thread) and a fresh install through the
// launcher's installation from a local nginx without rate limit, each side by side with its
// ratio and target. Exits with 1 when a target is missed or anything did not decode.
//
//     bench_codecs [zstd codec, default zstd] [data directory]
#include "installrun.h"
#include "nginxserver.h"
#include "realdata.h"

#include "launcher/configuration/packageconfigurationreader.h"
#include "shared/container/containerdecoder.h"
#include "shared/hash/sha256.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSet>
#include <QTextStream>

#include <time.h>

#include <algorithm>

using orvik::launcher::TChunkInPackage;
using orvik::launcher::TPackageConfigurationReader;

namespace {

constexpr double kMiB = 1048576.0;
constexpr double kSizeTarget = 1.10;   // zstd's packed bytes against LZMA's, at most
constexpr double kDecodeTarget = 0.25; // zstd's decoding CPU per byte against LZMA's, at most
constexpr double kInstallTarget = 1.6; // zstd's install speed against LZMA's, at least
constexpr int kInstallRounds = 2;

struct TCodecFigures
{
    QString Codec;
    bool Ok = false;
    qint64 Packed = 0;
    qint64 Unpacked = 0;
    double DecodeCpuSeconds = 0;
    qint64 InstallMilliseconds = 0;
};

qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Every container once, as local files of the published tree.
QStringList containerPaths(const TPackageConfigurationReader& Configuration, TCodecFigures& Figures)
{
    QStringList paths;
    QSet<QString> seen;
    auto add = [&](const TChunkInPackage& Chunk) {
        const QString path = Chunk.Url.toLocalFile();
        if (seen.contains(path))
            return;
        seen.insert(path);
        paths << path;
        Figures.Packed += qint64(Chunk.PackedSize);
        Figures.Unpacked += qint64(Chunk.UnpackedSize);
    };
    for (const auto& file : Configuration.getFiles()) {
        if (file.ChunkIndexes.empty())
            add(file.WholeFile);
        for (const qint32 index : file.ChunkIndexes)
            add(Configuration.getChunks().at(size_t(index)));
    }
    return paths;
}

// Only the decode is timed; reading the file and checking the digest are not.
bool decodeAll(const QStringList& Paths, TCodecFigures& Figures)
{
    qint64 nanoseconds = 0;
    for (const QString& path : Paths) {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            QTextStream(stderr) << "cannot read " << path << "\n";
            return false;
        }
        const QByteArray packed = file.readAll();
        const qint64 start = threadCpuNanoseconds();
        QByteArray unpacked;
        try {
            unpacked = shared::decodeContainerStrict(packed);
        } catch (const std::exception& error) {
            QTextStream(stderr) << path << ": " << error.what() << "\n";
            return false;
        }
        nanoseconds += threadCpuNanoseconds() - start;
        if (shared::sha256(unpacked).toHex() != QFileInfo(path).fileName().toLatin1()) {
            QTextStream(stderr) << path << " decodes to other data\n";
            return false;
        }
    }
    Figures.DecodeCpuSeconds = double(nanoseconds) / 1e9;
    return true;
}

TCodecFigures measureStatic(const QString& Codec, const QString& Document)
{
    TCodecFigures figures;
    figures.Codec = Codec;
    QFile file(Document);
    if (!file.open(QIODevice::ReadOnly))
        return figures;
    const QString cdn = QFileInfo(Document).path();
    const QUrl base = QUrl::fromLocalFile(cdn + QLatin1Char('/'));
    const TPackageConfigurationReader configuration(file.readAll(), QByteArray(), base, base);
    figures.Ok = decodeAll(containerPaths(configuration, figures), figures);
    return figures;
}

qint64 installOnce(const QString& Document, const QString& Work)
{
    testsupport::TNginxServer server(QFileInfo(Document).path());
    if (!server.start()) {
        QTextStream(stderr) << "nginx: " << server.error() << "\n";
        return -1;
    }
    const QUrl base(QStringLiteral("http://127.0.0.1:%1/").arg(server.port()));
    const QString directory = QDir(Work).filePath(QStringLiteral("installation"));
    const installbench::TInstallOutcome outcome =
        installbench::installInChildProcess(Document, base, directory);
    QDir(directory).removeRecursively();
    return outcome.Verified ? outcome.Milliseconds : -1;
}

QString cells(const QString& Name, const QString& Lzma, const QString& Zstd, double Ratio,
              const QString& Target)
{
    return QStringLiteral("%1 %2 %3 %4  %5\n")
        .arg(Name, -26)
        .arg(Lzma, 12)
        .arg(Zstd, 12)
        .arg(QString::number(Ratio, 'f', 3), 7)
        .arg(Target);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    qInstallMessageHandler([](QtMsgType Type, const QMessageLogContext&, const QString& Message) {
        if (Type != QtDebugMsg && Type != QtInfoMsg)
            QTextStream(stderr) << Message << "\n";
    });
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.value(1) == installbench::kInstallChildArgument)
        return installbench::runInstallChild(arguments.mid(2));

    const QString zstdCodec = arguments.value(1, QStringLiteral("zstd"));
    const QString directory =
        arguments.value(2, QDir::temp().filePath(QStringLiteral("kestrun-real-data")));
    const QString build = codecbench::prepareRealData(directory);
    if (build.isEmpty())
        return 1;
    const QString publisher =
        QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("kestrun-publish"));
    std::vector<TCodecFigures> figures;
    for (const QString& codec : {QStringLiteral("lzma"), zstdCodec}) {
        const QString document = codecbench::publishOnce(publisher, build, codec, directory);
        if (document.isEmpty())
            return 1;
        figures.push_back(measureStatic(codec, document));
        figures.back().InstallMilliseconds = -1;
    }
    // Alternating rounds keep a change in machine load from favouring one codec.
    for (int round = 0; round < kInstallRounds; ++round)
        for (TCodecFigures& codec : figures) {
            const qint64 ms = installOnce(
                QDir(directory).filePath(QStringLiteral("cdn-%1/game-1.json").arg(codec.Codec)),
                directory);
            codec.Ok = codec.Ok && ms >= 0;
            if (codec.InstallMilliseconds < 0 || ms < codec.InstallMilliseconds)
                codec.InstallMilliseconds = ms;
        }

    const TCodecFigures& lzma = figures[0];
    const TCodecFigures& zstd = figures[1];
    const double sizeRatio = double(zstd.Packed) / double(std::max<qint64>(lzma.Packed, 1));
    const double lzmaPerByte = lzma.DecodeCpuSeconds / double(std::max<qint64>(lzma.Unpacked, 1));
    const double zstdPerByte = zstd.DecodeCpuSeconds / double(std::max<qint64>(zstd.Unpacked, 1));
    const double decodeRatio = zstdPerByte / std::max(lzmaPerByte, 1e-18);
    const double installRatio =
        double(lzma.InstallMilliseconds) / double(std::max<qint64>(zstd.InstallMilliseconds, 1));

    QTextStream out(stdout);
    out << "data: " << build << ", " << QString::number(lzma.Unpacked / kMiB, 'f', 0)
        << " MiB unpacked\n"
        << cells(QStringLiteral(""), QStringLiteral("lzma"), zstd.Codec, 0, QString())
               .replace(QStringLiteral("  0.000"), QStringLiteral("  ratio"))
        << cells(QStringLiteral("packed MiB"), QString::number(lzma.Packed / kMiB, 'f', 1),
                 QString::number(zstd.Packed / kMiB, 'f', 1), sizeRatio,
                 QStringLiteral("target <= %1").arg(kSizeTarget))
        << cells(QStringLiteral("decode CPU ns per byte"),
                 QString::number(lzmaPerByte * 1e9, 'f', 3),
                 QString::number(zstdPerByte * 1e9, 'f', 3), decodeRatio,
                 QStringLiteral("target <= %1").arg(kDecodeTarget))
        << cells(QStringLiteral("install ms (speed ratio)"),
                 QString::number(lzma.InstallMilliseconds),
                 QString::number(zstd.InstallMilliseconds), installRatio,
                 QStringLiteral("target >= %1").arg(kInstallTarget));
    const bool ok = lzma.Ok && zstd.Ok && sizeRatio <= kSizeTarget &&
                    decodeRatio <= kDecodeTarget && installRatio >= kInstallTarget;
    out << (lzma.Ok && zstd.Ok ? "" : "SOME CONTAINER DID NOT DECODE OR INSTALL\n")
        << (ok ? "all targets met\n" : "some target missed\n");
    return ok ? 0 : 1;
}
