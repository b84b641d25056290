#include "launcher/download/chunkedfilestate.h"

#include "launcher/download/filetodownload.h"

namespace orvik::launcher {

TChunkedFileState::TChunkedFileState(const TFileToDownload& File)
    : RelativePath(File.LocalPath)
    , Size(File.Size)
    , Hash(File.Hash)
    , Executable(File.Executable)
    , Patches(File.Patches)
    , Chunks(File.Chunks)
    , Outstanding(File.Positions)
{
    computeOffsets();
}

TChunkedFileState::TChunkedFileState(TFileToDownload&& File)
    : RelativePath(std::move(File.LocalPath))
    , Size(File.Size)
    , Hash(std::move(File.Hash))
    , Executable(File.Executable)
    , Patches(std::move(File.Patches))
    , Chunks(std::move(File.Chunks))
    , Outstanding(std::move(File.Positions))
{
    computeOffsets();
}

void TChunkedFileState::computeOffsets()
{
    m_Offsets.reserve(Chunks.size() + 1);
    TFileSize offset = 0;
    for (const TChunkInPackage& chunk : Chunks) {
        m_Offsets.push_back(offset);
        offset += chunk.UnpackedSize;
    }
    m_Offsets.push_back(offset);
}

} // namespace orvik::launcher
