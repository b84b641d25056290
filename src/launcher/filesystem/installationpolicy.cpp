#include "launcher/filesystem/installationpolicy.h"

#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDir>
#include <QFileInfo>

#include <stdexcept>

namespace orvik::launcher {

QString TInstallationPolicy::prepareFile(::shared::TFileSystemHelper& FileSystem,
                                         const QString& Path, bool KeepsContent) const
{
    if (KeepsContent)
        return Path;
    // Nothing of the old file is reused: start from nothing, whatever stands there now.
    removeFile(FileSystem, Path);
    const QFileInfo left(Path);
    if (left.isDir() && !left.isSymLink())
        throw std::runtime_error(
            QStringLiteral("Failed to delete file %1").arg(Path).toStdString());
    return Path;
}

void TInstallationPolicy::completeFile(const QString&, const QString&) const {}

void TInstallationPolicy::removeFile(::shared::TFileSystemHelper& FileSystem,
                                     const QString& Path) const
{
    const QFileInfo existing(Path);
    // A folder that cannot be removed completely is no harm until a file must take its place.
    if (existing.isDir() && !existing.isSymLink())
        QDir(Path).removeRecursively();
    else if (existing.exists() || existing.isSymLink())
        FileSystem.deleteFile(Path);
}

std::shared_ptr<const TInstallationPolicy> gameInstallationPolicy()
{
    static const auto policy = std::make_shared<const TInstallationPolicy>();
    return policy;
}

} // namespace orvik::launcher
