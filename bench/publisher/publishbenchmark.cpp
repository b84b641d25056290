// Publishes a generated build of the given size with the DEFLATE codec and compresses the same
// files with gzip -6, one after the other, then prints both and their ratio. The build mixes
// incompressible blocks with text-like ones, so neither side wins by data that suits it alone.

#include "publisher/publish/buildpublisher.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

using namespace orvik::publisher;

namespace {

constexpr qint64 kMiB = 1048576;
constexpr qint64 kFileSize = 128 * kMiB;
constexpr int kBlock = 65536;

const char* const kWords[] = {"castle ",  "dragon ", "quest ",  "shield ", "potion ", "gold ",
                              "north ",   "river ",  "forest ", "level ",  "spawn ",  "mesh ",
                              "texture ", "0.25 ",   "1024 ",   "true "};

// Unique content: every block depends on its own position, so no two chunks are equal.
void fillBlock(char* out, quint32& state, bool text)
{
    int i = 0;
    while (i < kBlock) {
        state = state * 1664525u + 1013904223u;
        if (!text) {
            out[i++] = char(state >> 24);
            continue;
        }
        const char* word = kWords[(state >> 20) & 15];
        while (*word && i < kBlock)
            out[i++] = *word++;
        if ((state & 0xFF) < 8 && i < kBlock)
            out[i++] = '\n';
    }
}

bool writeBuild(const QString& directory, qint64 totalBytes)
{
    QDir().mkpath(directory + "/bin");
    QFile executable(directory + "/bin/game");
    if (!executable.open(QIODevice::WriteOnly) || executable.write("#!/bin/sh\n") < 0)
        return false;
    executable.close();
    quint32 state = 12345;
    QByteArray block(kBlock, Qt::Uninitialized);
    for (int file = 0; qint64(file) * kFileSize < totalBytes; ++file) {
        QFile out(QStringLiteral("%1/data/part%2.pak").arg(directory).arg(file, 3, 10, QChar('0')));
        QDir().mkpath(directory + "/data");
        if (!out.open(QIODevice::WriteOnly))
            return false;
        const qint64 size = std::min(kFileSize, totalBytes - qint64(file) * kFileSize);
        for (qint64 written = 0; written < size; written += kBlock) {
            fillBlock(block.data(), state, (state >> 8) % 3 != 0);
            if (out.write(block.constData(), std::min<qint64>(kBlock, size - written)) < 0)
                return false;
        }
    }
    return true;
}

// Bytes gzip -6 produces for every file of the build, compressed one after the other.
qint64 gzipAll(const QString& directory, double& seconds)
{
    QStringList files;
    for (const QString& name : QDir(directory + "/data").entryList(QDir::Files, QDir::Name))
        files << directory + "/data/" + name;
    qint64 total = 0;
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files) {
        QProcess gzip;
        gzip.start(QStringLiteral("sh"), {"-c", "gzip -6 -c \"$0\" | wc -c", file});
        if (!gzip.waitForFinished(-1) || gzip.exitCode() != 0)
            return -1;
        total += gzip.readAllStandardOutput().trimmed().toLongLong();
    }
    seconds = double(timer.nsecsElapsed()) / 1e9;
    return total;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const qint64 mebibytes = arguments.value(1, QStringLiteral("2048")).toLongLong();
    const int threads = arguments.value(2, QStringLiteral("0")).toInt();
    QTemporaryDir work;
    const QString build = work.filePath("build");
    std::printf("generating %lld MiB\n", mebibytes);
    std::fflush(stdout);
    if (!writeBuild(build, mebibytes * kMiB)) {
        std::fprintf(stderr, "cannot write the build\n");
        return 1;
    }

    TPublishOptions options;
    options.BuildDirectory = build;
    options.CdnDirectory = work.filePath("cdn");
    options.Version = QStringLiteral("1");
    options.Executable = QStringLiteral("bin/game");
    options.Threads = threads;
    QElapsedTimer timer;
    timer.start();
    TPublishResult result;
    try {
        result = publishBuild(options);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "publish failed: %s\n", error.what());
        return 1;
    }
    const double publishSeconds = double(timer.nsecsElapsed()) / 1e9;

    double gzipSeconds = 0;
    const qint64 gzipBytes = gzipAll(build, gzipSeconds);
    if (gzipBytes < 0) {
        std::fprintf(stderr, "gzip failed\n");
        return 1;
    }
    const double megabytes = double(result.BytesRead) / double(kMiB);
    std::printf("publish deflate: %8.2f s %8.1f MiB/s %12llu bytes (%d pieces, %d threads)\n",
                publishSeconds, megabytes / publishSeconds,
                static_cast<unsigned long long>(result.PackedBytes), result.Pieces,
                threads > 0 ? threads : QThread::idealThreadCount());
    std::printf("gzip -6:         %8.2f s %8.1f MiB/s %12lld bytes\n", gzipSeconds,
                megabytes / gzipSeconds, gzipBytes);
    std::printf("ratio publish/gzip: time %.2f, size %.3f\n", publishSeconds / gzipSeconds,
                double(result.PackedBytes) / double(gzipBytes));
    return 0;
}
