#include "launcher/filesystem/installationpolicy.h"

#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <stdexcept>

namespace orvik::launcher {

namespace {

// Removes the folders of the tree at Path that hold no file, Path last. A document lists files:
// what stands in a folder at the place of one is not the document's and may be the player's, so
// it stays, links included.
void removeEmptyFolders(const QString& Path)
{
    const QFileInfoList folders = QDir(Path).entryInfoList(
        QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::NoSort);
    for (const QFileInfo& folder : folders)
        if (!folder.isSymLink())
            removeEmptyFolders(folder.filePath());
    QDir().rmdir(Path); // refused while anything is left in it
}

} // namespace

QString TInstallationPolicy::prepareFile(::shared::TFileSystemHelper& FileSystem,
                                         const QString& Path, bool KeepsContent) const
{
    if (KeepsContent)
        return Path;
    // Nothing of the old file is reused: start from nothing, whatever stands there now.
    removeFile(FileSystem, Path);
    const QFileInfo left(Path);
    // A folder with anything in it stays, and the file cannot be written: the player is told so,
    // not sent to free disk space.
    if (left.isDir() && !left.isSymLink())
        throw ::shared::TWriteError(
            QStringLiteral("Failed to delete file %1").arg(Path).toStdString(), Path,
            qt_error_string(EISDIR), false);
    return Path;
}

void TInstallationPolicy::completeFile(const QString&, const QString&) const {}

void TInstallationPolicy::removeFile(::shared::TFileSystemHelper& FileSystem,
                                     const QString& Path) const
{
    const QFileInfo existing(Path);
    // A folder that cannot be removed completely is no harm until a file must take its place.
    if (existing.isDir() && !existing.isSymLink())
        removeEmptyFolders(Path);
    else if (existing.exists() || existing.isSymLink())
        FileSystem.deleteFile(Path);
}

std::shared_ptr<const TInstallationPolicy> gameInstallationPolicy()
{
    static const auto policy = std::make_shared<const TInstallationPolicy>();
    return policy;
}

} // namespace orvik::launcher
