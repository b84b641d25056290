#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/download/downloadrun.h"
#include "launcher/download/filetodownload.h"
#include "launcher/installation/diskspace.h"

#include <QString>

#include <optional>

#include <vector>

namespace orvik::launcher {

// The result of planning an installation: what must be fetched and what must go.
struct TPackageDifference
{
    std::vector<TFileToDownload> m_FilesToDownload;
    // In the order of the installed configuration; paths as the document names them.
    std::vector<TFileInPackage> m_FilesToDelete;
    // Not empty when the planning failed (the remote document was refused, or it names a chunk
    // that does not exist or a path that names no file inside the installation). Both lists are
    // then empty: acting on half a plan could delete what is still wanted.
    QString m_ErrorMessage;
    // What carrying out the plan takes from the installation's file system, measured when the
    // plan was made.
    TDiskSpaceNeed m_DiskSpace;
    // When set, m_FilesToDownload already sorted into the downloader's run, on the planning
    // thread, and m_FilesToDownload is empty.
    std::optional<TDownloadRun> m_PreparedDownload;
};

} // namespace orvik::launcher
