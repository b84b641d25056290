#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <memory>
#include <vector>

namespace orvik::launcher {

class TChunkedFileState;

// One URL to fetch in a download run: the chunk as its document describes it, the files it is
// written into, and how often fetching it has failed.
struct TChunkToDownload : TChunkInPackage
{
    std::vector<std::shared_ptr<TChunkedFileState>> TargetFiles;
    int RetryCount = 0;
    // Positions, over all files of the run, that need its bytes.
    int Uses = 0;
};

} // namespace orvik::launcher
