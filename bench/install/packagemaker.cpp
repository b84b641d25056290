#include "packagemaker.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTextStream>

#include <algorithm>
#include <cstring>

namespace installbench {

namespace {

constexpr qint64 kMiB = 1048576;
constexpr int kBlock = 65536;

const char* const kWords[] = {"castle ",  "dragon ", "quest ",  "shield ", "potion ", "gold ",
                              "north ",   "river ",  "forest ", "level ",  "spawn ",  "mesh ",
                              "texture ", "0.25 ",   "1024 ",   "true ",   "= ",      "{ ",
                              "} ",       "local ",  "end ",    "if ",     "then ",   "npc_"};

// Shares in percent of incompressible, text-like and structured blocks.
struct TMix
{
    int Random;
    int Text;
};

class TGenerator
{
public:
    explicit TGenerator(quint64 seed) : m_State(seed) {}

    void fill(char* out, int size, TMix mix)
    {
        const int pick = int(next() % 100);
        if (pick < mix.Random)
            fillRandom(out, size);
        else if (pick < mix.Random + mix.Text)
            fillText(out, size);
        else
            fillStructured(out, size);
    }

private:
    quint64 next()
    {
        m_State = m_State * 6364136223846793005ULL + 1442695040888963407ULL;
        return m_State >> 16;
    }

    void fillRandom(char* out, int size)
    {
        for (int i = 0; i + 6 <= size; i += 6) {
            const quint64 value = next();
            std::memcpy(out + i, &value, 6);
        }
        for (int i = size - size % 6; i < size; ++i)
            out[i] = char(next());
    }

    void fillText(char* out, int size)
    {
        int i = 0;
        while (i < size) {
            const quint64 value = next();
            const char* word = kWords[value % (sizeof(kWords) / sizeof(kWords[0]))];
            while (*word && i < size)
                out[i++] = *word++;
            if ((value >> 8) % 12 == 0 && i < size)
                out[i++] = '\n';
        }
    }

    // Vertex-like records: drifting coordinates, a few noisy bytes, constant flags.
    void fillStructured(char* out, int size)
    {
        qint32 position[3] = {qint32(next() % 4096), qint32(next() % 4096), 0};
        for (int i = 0; i + 16 <= size; i += 16) {
            const quint64 value = next();
            for (int axis = 0; axis < 3; ++axis)
                position[axis] += int((value >> (axis * 4)) & 7) - 3;
            std::memcpy(out + i, position, 12);
            out[i + 12] = char(value >> 20);
            out[i + 13] = char((value >> 28) & 3);
            out[i + 14] = 0x7f;
            out[i + 15] = 0;
        }
    }

    quint64 m_State;
};

bool writeFile(const QString& path, qint64 size, TGenerator& generator, TMix mix)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(kBlock, Qt::Uninitialized);
    for (qint64 written = 0; written < size; written += kBlock) {
        const int length = int(std::min<qint64>(kBlock, size - written));
        generator.fill(block.data(), length, mix);
        if (file.write(block.constData(), length) != length)
            return false;
    }
    return true;
}

// Large level data (LZMA), textures (DEFLATE), music (stored), the executable and a tail of
// scripts and settings of a few KiB to a few MiB, about as a game ships them.
bool writeBuild(const QString& root, qint64 total)
{
    TGenerator generator(20261207);
    struct TGroup
    {
        const char* Pattern;
        int Percent;
        qint64 FileSize;
        TMix Mix;
    };
    const TGroup groups[] = {
        {"bin/kestrun", 2, 64 * kMiB, {10, 30}},
        {"data/levels/level%1.lvl", 35, 96 * kMiB, {20, 40}},
        {"data/textures/textures%1.pak", 45, 128 * kMiB, {45, 10}},
        {"data/audio/music%1.ogg", 10, 48 * kMiB, {100, 0}},
    };
    qint64 planned = 0;
    for (const TGroup& group : groups) {
        const qint64 bytes = total * group.Percent / 100;
        for (int index = 0; qint64(index) * group.FileSize < bytes; ++index) {
            const qint64 size = std::min(group.FileSize, bytes - qint64(index) * group.FileSize);
            const QString name = QString::fromLatin1(group.Pattern)
                                     .replace(QLatin1String("%1"),
                                              QStringLiteral("%1").arg(index, 2, 10, QChar('0')));
            if (!writeFile(root + QLatin1Char('/') + name, size, generator, group.Mix))
                return false;
            planned += size;
        }
    }
    // Sizes from 8 KiB to 6 MiB, a few of them large enough to be cut into chunks.
    quint64 sizeState = 7;
    for (int index = 0; planned < total; ++index) {
        sizeState = sizeState * 6364136223846793005ULL + 1442695040888963407ULL;
        const quint64 draw = sizeState >> 33;
        const qint64 wanted = draw % 16 == 0 ? 4 * kMiB + qint64(draw % (2 * kMiB))
                                             : 8192 + qint64(draw % (768 * 1024));
        const qint64 size = std::min(wanted, total - planned);
        const QString name = index % 3 == 0 ? QStringLiteral("data/settings/%1.cfg")
                                            : QStringLiteral("data/scripts/%1.lua");
        if (!writeFile(root + QLatin1Char('/') + name.arg(index, 4, 10, QChar('0')), size,
                       generator, TMix{5, 80}))
            return false;
        planned += size;
    }
    return true;
}

bool publish(const QString& publisherPath, const QString& build, const QString& cdn)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tool.setStandardOutputFile(QProcess::nullDevice());
    tool.start(publisherPath,
               {QStringLiteral("publish"), QStringLiteral("--build"), build,
                QStringLiteral("--cdn"), cdn, QStringLiteral("--name"), QStringLiteral("bench"),
                QStringLiteral("--package-version"), QStringLiteral("1"),
                QStringLiteral("--executable"), QStringLiteral("bin/kestrun"),
                QStringLiteral("--codec-rule"), QStringLiteral("*.lvl=lzma"),
                QStringLiteral("--codec-rule"), QStringLiteral("*.cfg=lzma"),
                QStringLiteral("--codec-rule"), QStringLiteral("*.ogg=stored")});
    return tool.waitForFinished(-1) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

} // namespace

TPublishedPackage preparePublishedPackage(qint64 Mebibytes, const QString& Directory,
                                          const QString& PublisherPath)
{
    TPublishedPackage package;
    const QDir root(Directory);
    package.CdnDirectory = root.filePath(QStringLiteral("cdn"));
    const QString document = QDir(package.CdnDirectory).filePath(QStringLiteral("bench-1.json"));
    // Written last: a run interrupted while publishing starts over.
    const QString marker = root.filePath(QStringLiteral("published"));
    if (QFile::exists(marker) && QFile::exists(document)) {
        package.DocumentPath = document;
        return package;
    }
    QTextStream err(stderr);
    err << "making and publishing " << Mebibytes << " MiB in " << Directory
        << " (once; LZMA packing takes minutes)\n";
    err.flush();
    // Only what this benchmark made: the directory may have been given on the command line.
    const QString build = root.filePath(QStringLiteral("build"));
    QDir(build).removeRecursively();
    QDir(package.CdnDirectory).removeRecursively();
    if (!writeBuild(build, Mebibytes * kMiB)) {
        err << "cannot write the build in " << build << "\n";
        return package;
    }
    if (!publish(PublisherPath, build, package.CdnDirectory)) {
        err << "publishing with " << PublisherPath << " failed\n";
        return package;
    }
    // Only the published tree is served; the build would just take space.
    QDir(build).removeRecursively();
    QFile done(marker);
    if (!done.open(QIODevice::WriteOnly)) {
        err << "cannot write " << marker << "\n";
        return package;
    }
    package.DocumentPath = document;
    return package;
}

} // namespace installbench
