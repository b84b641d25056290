#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/installation/chunkreuserecord.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace orvik::launcher {

// Matches the old content of a file, described piece by piece as (hash, length) in file order,
// against the chunks the new file is made of, and records which chunks can be reused and where
// their bytes are now.
class TChunkMatcher
{
public:
    // Path only names the file in the log.
    TChunkMatcher(std::vector<TChunkInPackage> WantedChunks, const QString& Path);

    void addLocalChunk(const QByteArray& Hash, TFileSize Length);

    // At least one wanted chunk occurs somewhere in the old content.
    bool foundAnything() const { return m_bFoundAnything; }
    std::vector<TChunkReuseRecord>& records() { return m_Records; }

private:
    std::vector<TChunkInPackage> m_WantedChunks;
    std::vector<TChunkReuseRecord> m_Records;
    QString m_Path;
    TFileSize m_SourceOffset = 0;
    bool m_bFoundAnything = false;
};

} // namespace orvik::launcher
