#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/download/filetodownload.h"

#include <QDir>
#include <QString>

#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

struct TLauncherSettings;

// What a planned download will take from the file system of its installation, against what that
// file system has free, known before the first byte is fetched.
struct TDiskSpaceNeed
{
    // False when the file system could not be asked; the download then goes ahead.
    bool Known = false;
    // Growth of the files to download, room for chunks parked on the same file system, less
    // the files that are deleted first. In whole blocks of the file system.
    TFileSize Needed = 0;
    TFileSize Available = 0;
    QString FileSystemRoot;

    bool fits() const { return !Known || Needed <= Available; }
};

// Files are replaced one by one (the old file goes just before the new one is written), so
// a file needs only what it grows by; counting no file as shrinking keeps the sum an upper bound
// of the space in use at any moment. Parked chunks need disk room only beyond the memory cache,
// for the chunks that may wait at once (one window of parallel downloads). Paths are resolved
// inside the installation; one that is not there counts as a new file.
TDiskSpaceNeed diskSpaceNeededBy(::shared::TFileSystemHelper& FileSystem,
                                 const QDir& InstallationDirectory,
                                 const std::vector<TFileToDownload>& FilesToDownload,
                                 const std::vector<TFileInPackage>& FilesToDelete,
                                 const TLauncherSettings& Settings);

// What installing a build from nothing fetches and writes, against the free space where it goes:
// known from its document alone, before the player commits to anything. For an update it is an
// upper bound, as planning reuses what is installed.
struct TInstallEstimate
{
    TFileSize Download = 0; // each piece once, as it travels
    TFileSize Write = 0;    // the files' sizes
    bool SpaceKnown = false;
    TFileSize Available = 0;
    QString FileSystemRoot;

    bool fits() const { return !SpaceKnown || Write <= Available; }
};

TInstallEstimate estimateInstall(const TPackageConfigurationReader& Build,
                                 const QDir& InstallationDirectory);

} // namespace orvik::launcher
