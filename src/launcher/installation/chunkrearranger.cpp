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

// Later chunks whose bytes a move is about to overwrite, saved to a temporary file first.
class TDisplacedChunks
{
public:
    explicit TDisplacedChunks(const QString& Path) : m_Path(Path) {}

    // Saves every chunk after Records[Moving] that is still to be moved and whose bytes lie where
    // Records[Moving] goes.
    void saveOverwritten(QFile& Local, std::vector<TChunkReuseRecord>& Records, size_t Moving,
                         std::vector<char>& Buffer)
    {
        const TFileSize targetBegin = Records[Moving].TargetOffset;
        const TFileSize targetEnd = targetBegin + Records[Moving].Size;
        for (size_t j = Moving + 1; j < Records.size(); ++j) {
            TChunkReuseRecord& later = Records[j];
            if (later.State != EChunkReuseState::AtWrongPosition || later.SavedToTemporaryFile ||
                !overlaps(later.SourceOffset, later.SourceOffset + later.Size, targetBegin,
                          targetEnd))
                continue;
            copyRange(Local, qint64(later.SourceOffset), file(), m_End, qint64(later.Size), Buffer);
            later.SourceOffset = TFileSize(m_End);
            later.SavedToTemporaryFile = true;
            m_End += qint64(later.Size);
        }
    }

    QFileDevice& file()
    {
        if (!m_pFile) {
            m_pFile =
                std::make_unique<QTemporaryFile>(m_Path + kReuseMarker + QStringLiteral("XXXXXX"));
            if (!m_pFile->open())
                failOn(*m_pFile, QStringLiteral("Could not open file."));
        }
        return *m_pFile;
    }

private:
    QString m_Path;
    std::unique_ptr<QTemporaryFile> m_pFile;
    qint64 m_End = 0;
};

// Cuts the file to its wanted size, which an old, longer version exceeds.
void truncateAndClose(QFile& Local, TFileSize WantedSize)
{
    if (Local.isOpen()) {
        if (TFileSize(Local.size()) > WantedSize && !Local.resize(qint64(WantedSize)))
            failOn(Local, QStringLiteral("Could not truncate file."));
        Local.close();
        if (Local.error() != QFileDevice::NoError)
            failOn(Local, QStringLiteral("Could not close file."));
    } else if (TFileSize(QFileInfo(Local.fileName()).size()) > WantedSize) {
        // Everything was in place already, but the old file may still be longer.
        if (!Local.resize(qint64(WantedSize)))
            failOn(Local, QStringLiteral("Could not truncate file."));
    }
}

} // namespace

std::vector<int> rearrangeChunksInPlace(const QString& Path,
                                        std::vector<TChunkReuseRecord>& Records,
                                        TFileSize WantedSize)
{
    std::vector<int> missing;
    std::vector<char> buffer;
    QFile local(Path);
    TDisplacedChunks displaced(Path);

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

        displaced.saveOverwritten(local, Records, i, buffer);
        QFileDevice& from =
            chunk.SavedToTemporaryFile ? displaced.file() : static_cast<QFileDevice&>(local);
        copyRange(from, qint64(chunk.SourceOffset), local, qint64(chunk.TargetOffset),
                  qint64(chunk.Size), buffer);
        chunk.State = EChunkReuseState::AtCorrectPosition;
    }
    truncateAndClose(local, WantedSize);
    return missing;
}

} // namespace orvik::launcher
