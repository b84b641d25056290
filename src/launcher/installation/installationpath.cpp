#include "launcher/installation/installationpath.h"

#include "launcher/package/documentpath.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <stdexcept>

namespace orvik::launcher {

namespace {

// Both cleaned absolute paths.
bool isBelowDirectory(const QString& Path, const QString& Directory)
{
    const QString prefix =
        Directory.endsWith(QLatin1Char('/')) ? Directory : Directory + QLatin1Char('/');
    return Path.size() > prefix.size() && Path.startsWith(prefix);
}

} // namespace

QString resolveFileInInstallation(::shared::TFileSystemHelper& FileSystem,
                                  const QDir& InstallationDirectory, const QString& LocalFile)
{
    const auto refused = [&LocalFile] {
        return std::runtime_error(
            QStringLiteral("The document entry '%1' does not name a file of the installation.")
                .arg(LocalFile)
                .toStdString());
    };
    if (!namesFileInInstallation(LocalFile))
        throw refused();
    const QString path = FileSystem.resolvePathInsideDirectory(InstallationDirectory, LocalFile);
    if (!isBelowDirectory(path, QDir::cleanPath(InstallationDirectory.absolutePath())))
        throw refused();
    return path;
}

} // namespace orvik::launcher
