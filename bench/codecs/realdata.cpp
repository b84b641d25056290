#include "realdata.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTextStream>

namespace codecbench {

namespace {

const QString kPackage = QStringLiteral("supertuxkart-data");
const QString kDataFolder = QStringLiteral("tree/usr/share/games/supertuxkart");

bool run(const QString& Program, const QStringList& Arguments, const QString& WorkingDirectory)
{
    QProcess process;
    process.setWorkingDirectory(WorkingDirectory);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(Program, Arguments);
    const bool ok = process.waitForFinished(-1) && process.exitStatus() == QProcess::NormalExit &&
                    process.exitCode() == 0;
    if (!ok)
        QTextStream(stderr) << Program << " " << Arguments.join(QLatin1Char(' ')) << " failed\n";
    return ok;
}

// Written last: an interrupted step starts over.
bool markDone(const QString& Marker)
{
    QFile done(Marker);
    return done.open(QIODevice::WriteOnly);
}

} // namespace

QString prepareRealData(const QString& Directory)
{
    const QDir root(Directory);
    const QString data = root.filePath(kDataFolder);
    const QString marker = root.filePath(QStringLiteral("unpacked"));
    if (QFile::exists(marker))
        return data;
    QTextStream(stderr) << "fetching " << kPackage << " into " << Directory << " (once)\n";
    root.mkpath(QStringLiteral("."));
    for (const QString& old : root.entryList({QStringLiteral("*.deb")}, QDir::Files))
        QFile::remove(root.filePath(old));
    QDir(root.filePath(QStringLiteral("tree"))).removeRecursively();
    if (!run(QStringLiteral("apt-get"), {QStringLiteral("download"), kPackage}, Directory))
        return {};
    const QStringList debs = root.entryList({kPackage + QStringLiteral("_*.deb")}, QDir::Files);
    if (debs.size() != 1 ||
        !run(QStringLiteral("dpkg-deb"),
             {QStringLiteral("-x"), debs.first(), QStringLiteral("tree")}, Directory) ||
        !QFileInfo(data).isDir() || !markDone(marker))
        return {};
    QFile::remove(root.filePath(debs.first()));
    return data;
}

QString publishOnce(const QString& PublisherPath, const QString& Build, const QString& Codec,
                    const QString& Directory)
{
    const QDir root(Directory);
    const QString cdn = root.filePath(QStringLiteral("cdn-") + Codec);
    const QString document = QDir(cdn).filePath(QStringLiteral("game-1.json"));
    const QString marker = root.filePath(QStringLiteral("published-") + Codec);
    if (QFile::exists(marker) && QFile::exists(document))
        return document;
    QTextStream err(stderr);
    err << "publishing with " << Codec << " into " << cdn << " (once; takes minutes)\n";
    err.flush();
    QDir(cdn).removeRecursively();
    // Any file serves as the executable: the benchmark never starts it. The package links a few
    // fonts from packages that are not unpacked here.
    QElapsedTimer timer;
    timer.start();
    if (!run(PublisherPath,
             {QStringLiteral("publish"), QStringLiteral("--build"), Build, QStringLiteral("--cdn"),
              cdn, QStringLiteral("--name"), QStringLiteral("game"),
              QStringLiteral("--package-version"), QStringLiteral("1"),
              QStringLiteral("--executable"), QStringLiteral("data/stk_config.xml"),
              QStringLiteral("--codec"), Codec, QStringLiteral("--skip-broken-links")},
             Directory) ||
        !markDone(marker))
        return {};
    err << "published with " << Codec << " in " << timer.elapsed() / 1000 << " s\n";
    return document;
}

} // namespace codecbench
