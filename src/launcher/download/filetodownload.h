#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace orvik::launcher {

// A file of the installation that needs data from the network, as the planning hands it to the
// downloader: all of its chunks in file order, and the positions among them still to be fetched.
struct TFileToDownload
{
    QString LocalPath; // below the installation directory, as the document names it
    TFileSize Size = 0;
    QByteArray Hash; // SHA-256 of the whole file, raw bytes
    bool Executable = false;
    std::vector<TFilePatch> Patches;
    // Every chunk of the file in file order; a file downloaded whole has its one chunk here.
    std::vector<TChunkInPackage> Chunks;
    // Ascending, 0-based positions within Chunks that must be fetched.
    std::vector<int> Positions;
};

} // namespace orvik::launcher
