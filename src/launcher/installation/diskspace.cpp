#include "launcher/installation/diskspace.h"

#include "launcher/package/installationpath.h"
#include "launcher/settings/launchersettings.h"

#include <QFileInfo>
#include <QStorageInfo>

#include <algorithm>
#include <functional>
#include <limits>
#include <set>

namespace orvik::launcher {

namespace {

// A fresh installation's directory does not exist yet: its file system is that of the nearest
// folder that does.
QString nearestExistingFolder(QString path)
{
    while (!QFileInfo::exists(path)) {
        const QString parent = QFileInfo(path).absolutePath();
        if (parent == path)
            break;
        path = parent;
    }
    return path;
}

// Size on disk of a regular file at the resolved path of LocalFile, 0 for anything else.
TFileSize sizeOnDisk(::shared::TFileSystemHelper& FileSystem, const QDir& InstallationDirectory,
                     const QString& LocalFile)
{
    try {
        const QFileInfo info(
            resolveFileInInstallation(FileSystem, InstallationDirectory, LocalFile));
        return info.isFile() && !info.isSymLink() ? TFileSize(info.size()) : 0;
    } catch (const std::runtime_error&) {
        return 0;
    }
}

// Sums stop at the largest size instead of wrapping: sizes near 2^64, or two of 2^63, added up to
// a few bytes, and a download no disk could hold passed the check.
TFileSize saturatingSum(TFileSize a, TFileSize b)
{
    return b > std::numeric_limits<TFileSize>::max() - a ? std::numeric_limits<TFileSize>::max()
                                                         : a + b;
}

} // namespace

TDiskSpaceNeed diskSpaceNeededBy(::shared::TFileSystemHelper& FileSystem,
                                 const QDir& InstallationDirectory,
                                 const std::vector<TFileToDownload>& FilesToDownload,
                                 const std::vector<TFileInPackage>& FilesToDelete,
                                 const TLauncherSettings& Settings)
{
    TDiskSpaceNeed need;
    const QStorageInfo storage(nearestExistingFolder(InstallationDirectory.absolutePath()));
    if (!storage.isValid() || !storage.isReady())
        return need;
    need.Known = true;
    need.FileSystemRoot = storage.rootPath();
    need.Available = TFileSize(std::max<qint64>(storage.bytesAvailable(), 0));

    const TFileSize block = storage.blockSize() > 0 ? TFileSize(storage.blockSize()) : 4096;
    const auto inBlocks = [block](TFileSize bytes) {
        const TFileSize blocks = bytes / block + (bytes % block != 0 ? 1 : 0);
        return blocks > std::numeric_limits<TFileSize>::max() / block
                   ? std::numeric_limits<TFileSize>::max()
                   : blocks * block;
    };

    TFileSize growth = 0;
    std::vector<TFileSize> chunkSizes;
    for (const TFileToDownload& file : FilesToDownload) {
        const TFileSize now =
            inBlocks(sizeOnDisk(FileSystem, InstallationDirectory, file.LocalPath));
        const TFileSize wanted = inBlocks(file.Size);
        if (wanted > now)
            growth = saturatingSum(growth, wanted - now);
        for (const int position : file.Positions)
            chunkSizes.push_back(file.Chunks.at(size_t(position)).UnpackedSize);
    }

    // Up to maxCachedChunks + 1 parked chunks stay in memory; the rest go to temporary files.
    TFileSize parkingRoom = 0;
    const int onDisk =
        Settings.maxConcurrentDownloads - (std::max(Settings.maxCachedChunks, 0) + 1);
    if (onDisk > 0 && QStorageInfo(QDir::tempPath()) == storage) {
        const size_t count = std::min(chunkSizes.size(), size_t(onDisk));
        std::partial_sort(chunkSizes.begin(), chunkSizes.begin() + long(count), chunkSizes.end(),
                          std::greater<TFileSize>());
        for (size_t i = 0; i < count; ++i)
            parkingRoom = saturatingSum(parkingRoom, inBlocks(chunkSizes[i]));
    }

    TFileSize freed = 0;
    for (const TFileInPackage& file : FilesToDelete)
        freed = saturatingSum(
            freed, inBlocks(sizeOnDisk(FileSystem, InstallationDirectory, file.LocalFile)));

    const TFileSize gross = saturatingSum(growth, parkingRoom);
    need.Needed = gross > freed ? gross - freed : 0;
    return need;
}

TInstallEstimate estimateInstall(const TPackageConfigurationReader& Build,
                                 const QDir& InstallationDirectory)
{
    TInstallEstimate estimate;
    std::set<QByteArray> pieces;
    for (const TChunkInPackage& chunk : Build.getChunks()) {
        if (pieces.insert(chunk.UnpackedHash).second)
            estimate.Download += chunk.PackedSize > 0 ? chunk.PackedSize : chunk.UnpackedSize;
    }
    for (const TFileInPackage& file : Build.getFiles())
        estimate.Write += file.UnpackedSize;
    const QStorageInfo storage(nearestExistingFolder(InstallationDirectory.absolutePath()));
    estimate.SpaceKnown = storage.isValid() && storage.isReady();
    estimate.Available = TFileSize(std::max<qint64>(storage.bytesAvailable(), 0));
    estimate.FileSystemRoot = storage.rootPath();
    return estimate;
}

} // namespace orvik::launcher
