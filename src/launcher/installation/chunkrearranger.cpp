#include "launcher/installation/chunkrearranger.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <algorithm>
#include <memory>

namespace orvik::launcher {

namespace {

// Moves go through a small buffer: a chunk is up to 16 MiB, and six files are planned at once.
constexpr qint64 kCopyPieceSize = 1048576;

void failOn(const QFileDevice& file, const QString& reason)
{
    throw ::shared::ioError(file.fileName(),
                            file.error() != QFileDevice::NoError ? file.errorString() : reason);
}

void readExactly(QFileDevice& file, qint64 offset, char* data, qint64 length)
{
    if (!file.seek(offset) || file.read(data, length) != length)
        failOn(file, QStringLiteral("Could not read all data."));
}

void writeExactly(QFileDevice& file, qint64 offset, const char* data, qint64 length)
{
    if (!file.seek(offset) || file.write(data, length) != length)
        failOn(file, QStringLiteral("Could not write all data to disk."));
}

// Copies like memmove: when source and target overlap in the same file, the pieces are taken in
// the order that reads every byte before it is overwritten.
void copyRange(QFileDevice& from, qint64 fromOffset, QFileDevice& to, qint64 toOffset,
               qint64 length, std::vector<char>& buffer)
{
    const bool backwards = &from == &to && fromOffset < toOffset;
    qint64 done = 0;
    while (done < length) {
        const qint64 piece = std::min(kCopyPieceSize, length - done);
        const qint64 at = backwards ? length - done - piece : done;
        readExactly(from, fromOffset + at, buffer.data(), piece);
        writeExactly(to, toOffset + at, buffer.data(), piece);
        done += piece;
    }
}

bool overlaps(TFileSize begin1, TFileSize end1, TFileSize begin2, TFileSize end2)
{
    return begin1 < end2 && begin2 < end1;
}

} // namespace

std::vector<int> rearrangeChunksInPlace(const QString& Path,
                                        std::vector<TChunkReuseRecord>& Records,
                                        TFileSize WantedSize)
{
    std::vector<int> missing;
    std::vector<char> buffer;
    QFile local(Path);
    std::unique_ptr<QTemporaryFile> displaced;
    qint64 displacedEnd = 0;

    for (size_t i = 0; i < Records.size(); ++i) {
        TChunkReuseRecord& chunk = Records[i];
        if (chunk.State == EChunkReuseState::NotFound) {
            missing.push_back(int(i));
            continue;
        }
        if (chunk.State != EChunkReuseState::AtWrongPosition)
            continue;

        if (!local.isOpen() && !local.open(QIODevice::ReadWrite | QIODevice::Unbuffered))
            failOn(local, QStringLiteral("Could not open file."));
        if (buffer.empty())
            buffer.resize(size_t(kCopyPieceSize));

        const TFileSize targetEnd = chunk.TargetOffset + chunk.Size;
        for (size_t j = i + 1; j < Records.size(); ++j) {
            TChunkReuseRecord& later = Records[j];
            if (later.State != EChunkReuseState::AtWrongPosition || later.SavedToTemporaryFile ||
                !overlaps(later.SourceOffset, later.SourceOffset + later.Size, chunk.TargetOffset,
                          targetEnd))
                continue;
            if (!displaced) {
                displaced = std::make_unique<QTemporaryFile>(Path + kReuseMarker +
                                                             QStringLiteral("XXXXXX"));
                if (!displaced->open())
                    failOn(*displaced, QStringLiteral("Could not open file."));
            }
            copyRange(local, qint64(later.SourceOffset), *displaced, displacedEnd,
                      qint64(later.Size), buffer);
            later.SourceOffset = TFileSize(displacedEnd);
            later.SavedToTemporaryFile = true;
            displacedEnd += qint64(later.Size);
        }

        QFileDevice& from = chunk.SavedToTemporaryFile ? static_cast<QFileDevice&>(*displaced)
                                                       : static_cast<QFileDevice&>(local);
        copyRange(from, qint64(chunk.SourceOffset), local, qint64(chunk.TargetOffset),
                  qint64(chunk.Size), buffer);
        chunk.State = EChunkReuseState::AtCorrectPosition;
    }

    if (local.isOpen()) {
        if (TFileSize(local.size()) > WantedSize && !local.resize(qint64(WantedSize)))
            failOn(local, QStringLiteral("Could not truncate file."));
        local.close();
        if (local.error() != QFileDevice::NoError)
            failOn(local, QStringLiteral("Could not close file."));
    } else if (TFileSize(QFileInfo(Path).size()) > WantedSize) {
        // Everything was in place already, but the old file may still be longer.
        if (!local.resize(qint64(WantedSize)))
            failOn(local, QStringLiteral("Could not truncate file."));
    }
    return missing;
}

} // namespace orvik::launcher
