#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/download/filetodownload.h"
#include "launcher/installation/scanprogress.h"

#include <QDir>

#include <atomic>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

class TStagedFiles;

// What every file of one planning is compared with. The installed lists are empty unless the
// installed configuration may be trusted instead of reading the files (fast scan).
struct TPlanningInputs
{
    QDir InstallationDirectory;
    ::shared::TFileSystemHelper& FileSystem;
    const TChunkInPackageVector& RemoteChunks;
    const TFileInPackageVector& InstalledFiles;
    const TChunkInPackageVector& InstalledChunks;
    TScanProgress& Progress;
    // The launcher's own files: never changed in place nor deleted by the planning. A file that
    // differs is fetched whole and replaced by a rename when it is complete.
    bool ReplaceWholeFiles = false;
    // Pieces of wanted files that other installed files held, copied out before any file
    // changed; none when the old document names no such piece.
    const TStagedFiles* Staged = nullptr;
    // Set when the installation is ending: the reading of a file stops at its next piece and
    // the planning of that file fails.
    const std::atomic<bool>* StopRequested = nullptr;
};

// Decides what one wanted file needs and brings its reusable old content into place: a file of
// fewer than two chunks is kept when its digest matches, else taken from its staged copy when
// other files held it; a chunked file has the chunks it already holds moved to their new offsets
// and those staged from other files copied in. The result lists the positions of its
// chunks to fetch (none when the file is complete). Throws std::runtime_error when the document
// names a chunk that does not exist or a path that cannot be placed in the installation, and when
// StopRequested ended the reading of the file. With
// ReplaceWholeFiles a file is kept when its digest matches and fetched whole otherwise, untouched.
// A link, a folder, a FIFO, a socket or a device where the file goes is never read: it is fetched
// whole and replaced when it is written.
TFileToDownload planFile(const TFileInPackage& File, const TPlanningInputs& Inputs);

} // namespace orvik::launcher
