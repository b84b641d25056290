#include "benchdata.h"

#include "launcher/package/package.h"
#include "shared/chunker/chunkscanner.h"
#include "shared/hash/sha256.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

namespace installationbench {

namespace {

constexpr qint64 MiB = 1048576;
// Large game files and a tail of smaller ones, as packages are.
constexpr qint64 kLargeFile = 192 * MiB;
constexpr qint64 kSmallFile = 8 * MiB;

bool writePseudoRandomFile(const QString& path, qint64 size, quint64 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray piece(int(MiB), Qt::Uninitialized);
    quint64 x = seed;
    for (qint64 written = 0; written < size; written += piece.size()) {
        for (int i = 0; i < piece.size(); ++i) {
            x = x * 6364136223846793005ULL + 1442695040888963407ULL;
            piece[i] = char(x >> 56);
        }
        if (file.write(piece.constData(), std::min<qint64>(piece.size(), size - written)) < 0)
            return false;
    }
    return true;
}

QJsonObject chunkedFileEntry(const QString& name, const QString& path, QJsonArray& chunks)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QJsonArray indexes;
    shared::TSha256 whole;
    shared::scanContentDefinedChunks(file, [&](const QByteArray& hash, quint64 length) {
        QJsonObject chunk;
        chunk[QStringLiteral("url")] =
            QStringLiteral("chunks/") + QString::fromLatin1(hash.toHex());
        chunk[QStringLiteral("unpackedsize")] = QString::number(length);
        chunk[QStringLiteral("unpackedhash")] = QString::fromLatin1(hash.toHex());
        indexes.append(chunks.size());
        chunks.append(chunk);
    });
    file.seek(0);
    while (!file.atEnd())
        whole.addData(file.read(16 * MiB));
    QJsonObject entry;
    entry[QStringLiteral("localfile")] = name;
    entry[QStringLiteral("unpackedsize")] = QString::number(QFileInfo(path).size());
    entry[QStringLiteral("unpackedhash")] = QString::fromLatin1(whole.result().toHex());
    entry[QStringLiteral("chunks")] = indexes;
    return entry;
}

} // namespace

TBenchPackage preparePackage(int gibibytes, const QString& directory)
{
    TBenchPackage package;
    package.Directory =
        directory.isEmpty()
            ? QDir::temp().filePath(QStringLiteral("kestrun-installation-bench-%1").arg(gibibytes))
            : directory;
    QDir().mkpath(package.Directory);
    const QDir dir(package.Directory);
    const QString documentPath = dir.filePath(QStringLiteral("bench-package.json"));

    // Three quarters in large files, the rest in small ones.
    const qint64 total = qint64(gibibytes) * 1024 * MiB;
    QStringList names;
    std::vector<qint64> sizes;
    for (qint64 planned = 0; planned < total;) {
        const bool large = planned < total * 3 / 4;
        const qint64 size = std::min(large ? kLargeFile : kSmallFile, total - planned);
        names << QStringLiteral("data/%1-%2.bin").arg(large ? "large" : "small").arg(names.size());
        sizes.push_back(size);
        planned += size;
    }
    for (const QString& name : names)
        package.Files << dir.filePath(name);

    if (!QFileInfo::exists(documentPath)) {
        QTextStream(stdout) << "preparing " << gibibytes << " GiB in " << package.Directory
                            << " (once)\n";
        QDir().mkpath(dir.filePath(QStringLiteral("data")));
        QJsonArray files;
        QJsonArray chunks;
        for (int i = 0; i < names.size(); ++i) {
            writePseudoRandomFile(package.Files[i], sizes[size_t(i)], quint64(i) + 1);
            files.append(chunkedFileEntry(names[i], package.Files[i], chunks));
        }
        QJsonObject document;
        document[QStringLiteral("version")] = QStringLiteral("1");
        document[QStringLiteral("files")] = files;
        document[QStringLiteral("chunks")] = chunks;
        QFile out(documentPath);
        out.open(QIODevice::WriteOnly);
        out.write(QJsonDocument(document).toJson());
    }
    QFile in(documentPath);
    in.open(QIODevice::ReadOnly);
    const QUrl base = QUrl::fromLocalFile(package.Directory + QLatin1Char('/'));
    package.Configuration =
        orvik::launcher::TPackageConfigurationReader(in.readAll(), QByteArray(), base, base);

    const QString settingsDirectory = dir.filePath(QStringLiteral("settings"));
    QDir().mkpath(settingsDirectory);
    QFile settings(QDir(settingsDirectory).filePath(QStringLiteral("launchersettings.ini")));
    settings.open(QIODevice::WriteOnly);
    settings.write("[OPTIONS]\nskipVerification=false\nfastScan=false\n");
    settings.close();
    package.Helper =
        std::make_shared<orvik::launcher::TLauncherFilesystemHelper>(settingsDirectory);
    return package;
}

void warmPageCache(const QStringList& files)
{
    QByteArray buffer(int(16 * MiB), Qt::Uninitialized);
    for (const QString& path : files) {
        QFile file(path);
        file.open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        while (file.read(buffer.data(), buffer.size()) > 0) {
        }
    }
}

bool dropPageCache()
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    return control.open(QIODevice::WriteOnly) && control.write("3\n") == 2 && control.flush();
}

bool takeColdDiskOption(QStringList& arguments)
{
    if (!arguments.removeAll(QStringLiteral("--cold")))
        return false;
    if (dropPageCache())
        return true;
    QTextStream(stdout) << "cold disk: emptying the page cache was refused (writing "
                           "/proc/sys/vm/drop_caches needs root); measuring page-cached files\n";
    return false;
}

qint64 timeOpensslReference(const QStringList& files)
{
    // Alternate the files, largest first, so both processes get about half the bytes.
    QStringList sorted = files;
    std::sort(sorted.begin(), sorted.end(), [](const QString& a, const QString& b) {
        return QFileInfo(a).size() > QFileInfo(b).size();
    });
    QStringList halves[2];
    qint64 bytes[2] = {0, 0};
    for (const QString& path : sorted) {
        const int half = bytes[0] <= bytes[1] ? 0 : 1;
        halves[half] << path;
        bytes[half] += QFileInfo(path).size();
    }
    QProcess processes[2];
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 2; ++i) {
        processes[i].setStandardOutputFile(QProcess::nullDevice());
        processes[i].start(QStringLiteral("openssl"),
                           QStringList{QStringLiteral("dgst"), QStringLiteral("-sha256")} +
                               halves[i]);
    }
    bool ok = true;
    for (QProcess& process : processes)
        ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
             process.exitCode() == 0 && ok;
    return ok ? timer.elapsed() : -1;
}

qint64 bestOf(int rounds, const std::function<qint64()>& run)
{
    qint64 best = -1;
    for (int i = 0; i < rounds; ++i) {
        const qint64 elapsed = run();
        if (elapsed < 0)
            return -1;
        best = best < 0 ? elapsed : std::min(best, elapsed);
    }
    return best;
}

void keepOnlyWarnings()
{
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
        if (type != QtDebugMsg && type != QtInfoMsg)
            QTextStream(stderr) << message << "\n";
    });
}

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

TBenchSetup setUpBenchmark(QStringList arguments)
{
    TBenchSetup setup;
    setup.Cold = takeColdDiskOption(arguments);
    if (arguments.size() > 1)
        setup.Gibibytes = arguments[1].toInt();
    setup.Package =
        preparePackage(setup.Gibibytes, arguments.size() > 2 ? arguments[2] : QString());
    setup.Installation = std::make_shared<orvik::launcher::TPackageInstallation>(
        std::make_shared<orvik::launcher::TPackage>(0, QJsonObject(), QUrl()),
        setup.Package.Helper);
    if (!setup.Cold)
        warmPageCache(setup.Package.Files);
    return setup;
}

void prepareRound(const TBenchSetup& setup)
{
    if (setup.Cold)
        dropPageCache();
}

qint64 timeLauncher(const TBenchSetup& Setup, const std::function<void()>& Round, int Rounds)
{
    return bestOf(Rounds, [&] {
        prepareRound(Setup);
        QElapsedTimer timer;
        timer.start();
        Round();
        return timer.elapsed();
    });
}

qint64 timeReference(const TBenchSetup& setup, int Rounds)
{
    return bestOf(Rounds, [&] {
        prepareRound(setup);
        return timeOpensslReference(setup.Package.Files);
    });
}

} // namespace installationbench
