#include "launcher/installation/chunkmatcher.h"

#include "launcher/logging/logging.h"

namespace orvik::launcher {

TChunkMatcher::TChunkMatcher(std::vector<TChunkInPackage> WantedChunks, const QString& Path)
    : m_WantedChunks(std::move(WantedChunks)), m_Records(m_WantedChunks.size()), m_Path(Path)
{
    TFileSize target = 0;
    for (size_t i = 0; i < m_WantedChunks.size(); ++i) {
        m_Records[i].TargetOffset = target;
        m_Records[i].Size = m_WantedChunks[i].UnpackedSize;
        target += m_WantedChunks[i].UnpackedSize;
    }
}

void TChunkMatcher::addLocalChunk(const QByteArray& Hash, TFileSize Length)
{
    const TFileSize source = m_SourceOffset;
    m_SourceOffset += Length;
    // A document without a digest must not make every digest-less piece look reusable.
    if (Hash.isEmpty())
        return;

    for (size_t i = 0; i < m_WantedChunks.size(); ++i) {
        TChunkReuseRecord& record = m_Records[i];
        if (record.State == EChunkReuseState::AtCorrectPosition)
            continue;
        if (record.State == EChunkReuseState::AtWrongPosition && record.TargetOffset != source)
            continue;
        if (m_WantedChunks[i].UnpackedHash != Hash)
            continue;

        m_bFoundAnything = true;
        if (record.TargetOffset == source) {
            record.State = EChunkReuseState::AtCorrectPosition;
            qInfo() << "reuseable chunk on correct position found " << i << Hash.toHex()
                    << " file: " << m_Path << " offset: " << record.TargetOffset << threadSuffix;
        } else {
            // Only NotFound gets here: a chunk already seen elsewhere keeps its first source.
            record.State = EChunkReuseState::AtWrongPosition;
            record.SourceOffset = source;
            qInfo() << "reuseable chunk on wrong position found " << i << Hash.toHex()
                    << " file: " << m_Path << " source offset: " << source
                    << " target offset: " << record.TargetOffset << threadSuffix;
        }
    }
}

} // namespace orvik::launcher
