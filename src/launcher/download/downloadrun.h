#pragma once

#include "launcher/download/filetodownload.h"

#include <QHash>
#include <QUrl>

#include <vector>

namespace orvik::launcher {

// One chunk of a run and what the run knows of it. Kept once per chunk: a package of many small
// files has one per file, and maps keyed by URL cost a node and a copy each.
struct TRunChunk
{
    TChunkInPackage Piece;
    // Positions in the run's Files of the files it is written into.
    std::vector<int> TargetFiles;
    int RetryCount = 0;
    // Positions, over all files of the run, that need its bytes.
    int Uses = 0;
    TFileSize DownloadedBytes = 0;
    TFileSize WrittenBytes = 0;
    bool InProgress = false;
    // A step of it is on the thread pool; the run waits for it before it ends.
    bool Working = false;
};

// The files a download run fetches, sorted into its chunks. For a package of many small files
// this takes longer than the window may wait, so it is made beside the plan, on a pool thread,
// and handed over whole.
struct TDownloadRun
{
    // Queued in the order the files will be written, each chunk at its first use; the first
    // chunk with a URL owns it and is in progress, the others arrive with it.
    static TDownloadRun prepare(std::vector<TFileToDownload> Files);

    // Each until its first chunk arrives.
    std::vector<TFileToDownload> Files;
    // One per distinct piece, in the order they are queued.
    std::vector<TRunChunk> Chunks;
    // Positions in Chunks.
    QHash<QUrl, int> ChunkByUrl;
    int ChunksInProgress = 0;
    // Each distinct piece once, as it travels and is written once.
    TFileSize TotalPacked = 0;
    TFileSize TotalUnpacked = 0;
};

} // namespace orvik::launcher
