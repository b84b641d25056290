#include "launcher/download/downloadrun.h"

namespace orvik::launcher {

TDownloadRun TDownloadRun::prepare(std::vector<TFileToDownload> Files)
{
    // Each chunk at its first use: a chunk then mostly arrives when its file is ready for it,
    // and parking (memory, temporary files) stays the exception. In the order of their hashes
    // almost every chunk arrived before its turn, and a package of any size had to be held until
    // its first chunks came. At most one chunk per position: reserved once, the list never holds
    // twice its size while it grows.
    TDownloadRun run;
    run.Files = std::move(Files);
    size_t positions = 0;
    for (const TFileToDownload& file : run.Files)
        positions += file.Positions.size();
    run.Chunks.reserve(positions);
    QHash<QByteArray, int> indexByHash;
    indexByHash.reserve(int(positions));
    for (size_t fileIndex = 0; fileIndex < run.Files.size(); ++fileIndex) {
        const TFileToDownload& file = run.Files[fileIndex];
        for (const int position : file.Positions) {
            const TChunkInPackage& entry = file.Chunks.at(static_cast<size_t>(position));
            auto found = indexByHash.constFind(entry.UnpackedHash);
            if (found == indexByHash.constEnd()) {
                found = indexByHash.insert(entry.UnpackedHash, int(run.Chunks.size()));
                TRunChunk chunk;
                chunk.Piece = entry;
                run.Chunks.push_back(std::move(chunk));
            }
            TRunChunk& chunk = run.Chunks[size_t(found.value())];
            ++chunk.Uses;
            // Positions of one file come together: its index is the last one if present.
            if (chunk.TargetFiles.empty() || chunk.TargetFiles.back() != int(fileIndex))
                chunk.TargetFiles.push_back(int(fileIndex));
        }
    }

    run.ChunkByUrl.reserve(int(run.Chunks.size()));
    for (size_t i = 0; i < run.Chunks.size(); ++i) {
        TRunChunk& chunk = run.Chunks[i];
        run.TotalPacked += chunk.Piece.PackedSize;
        run.TotalUnpacked += chunk.Piece.UnpackedSize;
        if (run.ChunkByUrl.contains(chunk.Piece.Url))
            continue;
        run.ChunkByUrl.insert(chunk.Piece.Url, int(i));
        chunk.InProgress = true;
        ++run.ChunksInProgress;
    }
    return run;
}

} // namespace orvik::launcher
