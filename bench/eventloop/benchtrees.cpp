#include "benchtrees.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTextStream>

#include <algorithm>

namespace eventloopbench {

namespace {

constexpr qint64 kKiB = 1024;
constexpr qint64 kMiB = 1048576;

const char* const kWords[] = {"castle ", "dragon ", "quest ", "shield ", "potion ", "gold ",
                              "north ",  "river ",  "0.25 ",  "1024 ",   "true ",   "npc_"};

class TGenerator
{
public:
    explicit TGenerator(quint64 Seed) : m_State(Seed) {}

    quint64 next()
    {
        m_State = m_State * 6364136223846793005ULL + 1442695040888963407ULL;
        return m_State >> 16;
    }

    // Half incompressible, half text-like, so DEFLATE has work to do as with real data.
    QByteArray content(qint64 Size)
    {
        QByteArray bytes(int(Size), Qt::Uninitialized);
        const int randomPart = int(Size / 2);
        for (int i = 0; i < randomPart; ++i)
            bytes[i] = char(next() >> 24);
        for (int i = randomPart; i < bytes.size();) {
            for (const char* word = kWords[next() % 12]; *word && i < bytes.size(); ++word)
                bytes[i++] = *word;
        }
        return bytes;
    }

private:
    quint64 m_State;
};

bool writeFile(const QString& Path, const QByteArray& Bytes)
{
    QDir().mkpath(QFileInfo(Path).absolutePath());
    QFile file(Path);
    return file.open(QIODevice::WriteOnly) && file.write(Bytes) == Bytes.size() && file.flush() &&
           (file.close(), file.error() == QFileDevice::NoError);
}

qint64 smallFileSize(TGenerator& Generator)
{
    return 8 * kKiB + qint64(Generator.next() % (56 * kKiB));
}

bool publish(const QString& PublisherPath, const QString& Build, const QString& Cdn)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.start(PublisherPath,
               {QStringLiteral("publish"), QStringLiteral("--build"), Build,
                QStringLiteral("--cdn"), Cdn, QStringLiteral("--name"), QStringLiteral("bench"),
                QStringLiteral("--package-version"), QStringLiteral("1"),
                QStringLiteral("--executable"), QStringLiteral("bin/client"),
                QStringLiteral("--codec-rule"), QStringLiteral("*.ogg=stored")});
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

} // namespace

QString preparePublishedBuild(qint64 Mebibytes, const QString& Directory,
                              const QString& PublisherPath)
{
    const QDir root(Directory);
    const QString cdn = root.filePath(QStringLiteral("cdn"));
    const QString document = QDir(cdn).filePath(QStringLiteral("bench-1.json"));
    const QString marker = root.filePath(QStringLiteral("published"));
    if (QFile::exists(marker) && QFile::exists(document))
        return document;
    QTextStream err(stderr);
    err << "making and publishing " << Mebibytes << " MiB in " << Directory << " (once)\n";
    err.flush();
    const QString build = root.filePath(QStringLiteral("build"));
    QDir(build).removeRecursively();
    QDir(cdn).removeRecursively();
    TGenerator generator(20261208);
    const qint64 total = Mebibytes * kMiB;
    qint64 planned = 0;
    bool ok = writeFile(build + QStringLiteral("/bin/client"), "#!/bin/sh\nexit 0\n");
    for (int index = 0; ok && planned < total / 4; ++index) {
        const qint64 size = std::min(kMiB + qint64(generator.next() % (7 * kMiB)), total - planned);
        ok = writeFile(build + QStringLiteral("/data/media/%1.ogg").arg(index, 4, 10, QChar('0')),
                       generator.content(size));
        planned += size;
    }
    for (int index = 0; ok && planned < total; ++index) {
        const qint64 size = std::min(smallFileSize(generator), total - planned);
        ok = writeFile(build + QStringLiteral("/data/d%1/f%2.dat")
                                   .arg(index / 500, 3, 10, QChar('0'))
                                   .arg(index, 5, 10, QChar('0')),
                       generator.content(size));
        planned += size;
    }
    if (!ok || !publish(PublisherPath, build, cdn) ||
        !writeFile(marker, QByteArray("published\n"))) {
        err << "making or publishing the build in " << Directory << " failed\n";
        return {};
    }
    QDir(build).removeRecursively();
    return document;
}

QByteArray prepareInstalledTree(qint64 Mebibytes, const QString& InstallationDirectory)
{
    const QDir root(InstallationDirectory);
    const QString documentCopy = root.filePath(QStringLiteral("bench-document.json"));
    if (QFile::exists(documentCopy)) {
        QFile file(documentCopy);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll();
    }
    QTextStream(stderr) << "writing an installation of " << Mebibytes << " MiB in "
                        << InstallationDirectory << " (once)\n";
    TGenerator generator(20261209);
    const qint64 total = Mebibytes * kMiB;
    QJsonArray files;
    qint64 planned = 0;
    auto add = [&](const QString& LocalFile, qint64 Size) {
        const QByteArray content = generator.content(Size);
        const QString hash = QString::fromLatin1(
            QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
        planned += Size;
        files.append(QJsonObject{{QStringLiteral("localfile"), LocalFile},
                                 {QStringLiteral("unpackedsize"), Size},
                                 {QStringLiteral("unpackedhash"), hash},
                                 {QStringLiteral("url"), QStringLiteral("stored/") + hash},
                                 {QStringLiteral("packedsize"), Size},
                                 {QStringLiteral("packedhash"), hash},
                                 {QStringLiteral("unpack"), false}});
        return writeFile(root.filePath(LocalFile), content);
    };
    bool ok = true;
    for (int index = 0; ok && planned < total * 3 / 4; ++index)
        ok = add(QStringLiteral("data/large/%1.pak").arg(index, 3, 10, QChar('0')),
                 std::min(64 * kMiB, total * 3 / 4 - planned));
    for (int index = 0; ok && planned < total; ++index)
        ok = add(QStringLiteral("data/d%1/f%2.dat")
                     .arg(index / 500, 3, 10, QChar('0'))
                     .arg(index, 5, 10, QChar('0')),
                 std::min(smallFileSize(generator), total - planned));
    const QByteArray document =
        QJsonDocument(QJsonObject{{QStringLiteral("version"), QStringLiteral("1")},
                                  {QStringLiteral("parameters"), QJsonArray()},
                                  {QStringLiteral("chunks"), QJsonArray()},
                                  {QStringLiteral("files"), files}})
            .toJson(QJsonDocument::Compact);
    if (!ok || !writeFile(documentCopy, document)) {
        QTextStream(stderr) << "writing the installation in " << InstallationDirectory
                            << " failed\n";
        return {};
    }
    return document;
}

} // namespace eventloopbench
