#include "storedpackage.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <cstring>

namespace connectionsbench {

namespace {

constexpr qint64 kKiB = 1024;

bool writeBuild(const QString& root, qint64 total)
{
    quint64 state = 20260311;
    const auto next = [&state] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 16;
    };
    if (!QDir().mkpath(root + QStringLiteral("/bin")) ||
        !QDir().mkpath(root + QStringLiteral("/data")))
        return false;
    QFile executable(root + QStringLiteral("/bin/kestrun"));
    if (!executable.open(QIODevice::WriteOnly) || executable.write("#!/bin/sh\n") != 10)
        return false;
    qint64 written = 0;
    for (int index = 0; written < total; ++index) {
        const qint64 size = 256 * kKiB + qint64(next() % (512 * kKiB));
        QByteArray bytes(int(size), Qt::Uninitialized);
        for (int i = 0; i + 6 <= bytes.size(); i += 6) {
            const quint64 value = next();
            std::memcpy(bytes.data() + i, &value, 6);
        }
        QFile file(root + QStringLiteral("/data/%1.bin").arg(index, 5, 10, QChar('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != size)
            return false;
        written += size;
    }
    return true;
}

} // namespace

QString prepareStoredPackage(qint64 Mebibytes, const QString& Directory,
                             const QString& PublisherPath)
{
    const QDir root(Directory);
    const QString cdn = root.filePath(QStringLiteral("cdn"));
    const QString document = QDir(cdn).filePath(QStringLiteral("bench-1.json"));
    // Written last: a run interrupted while publishing starts over.
    const QString marker = root.filePath(QStringLiteral("published"));
    if (QFile::exists(marker) && QFile::exists(document))
        return document;
    QTextStream err(stderr);
    err << "making and publishing " << Mebibytes << " MiB in " << Directory << " (once)\n";
    err.flush();
    const QString build = root.filePath(QStringLiteral("build"));
    QDir(build).removeRecursively();
    QDir(cdn).removeRecursively();
    if (!writeBuild(build, Mebibytes * 1024 * kKiB)) {
        err << "cannot write the build in " << build << "\n";
        return QString();
    }
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.start(PublisherPath,
               {QStringLiteral("publish"), QStringLiteral("--build"), build,
                QStringLiteral("--cdn"), cdn, QStringLiteral("--name"), QStringLiteral("bench"),
                QStringLiteral("--package-version"), QStringLiteral("1"),
                QStringLiteral("--executable"), QStringLiteral("bin/kestrun"),
                QStringLiteral("--codec-rule"), QStringLiteral("*.bin=stored")});
    if (!tool.waitForFinished(-1) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        err << "publishing with " << PublisherPath << " failed\n";
        return QString();
    }
    QDir(build).removeRecursively();
    QFile done(marker);
    if (!done.open(QIODevice::WriteOnly)) {
        err << "cannot write " << marker << "\n";
        return QString();
    }
    return document;
}

} // namespace connectionsbench
