#include "launcher/package/installationpath.h"

#include "launcher/package/documentpath.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFile>
#include <QFileInfo>

#include <climits>
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

// Whether the folders of Path, a cleaned path below Directory, stay inside it with the links
// among them followed. Checked on the deepest folder there is: a link to a folder elsewhere
// would take the write or the deletion with it.
bool foldersStayInside(const QString& Path, const QString& Directory)
{
    if (!QFileInfo::exists(Directory))
        return true;
    QString folder = QFileInfo(Path).path();
    while (folder.size() > Directory.size() && !QFileInfo::exists(folder))
        folder = QFileInfo(folder).path();
    const QString real = QFileInfo(folder).canonicalFilePath();
    const QString realDirectory = QFileInfo(Directory).canonicalFilePath();
    return real == realDirectory || isBelowDirectory(real, realDirectory);
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
    const QString directory = QDir::cleanPath(InstallationDirectory.absolutePath());
    if (!isBelowDirectory(path, directory))
        throw refused();
    if (!foldersStayInside(path, directory))
        throw std::runtime_error(
            QStringLiteral("The document entry '%1' leads through a link out of the installation.")
                .arg(LocalFile)
                .toStdString());
    // The document may keep below PATH_MAX and the installation directory still take the whole
    // path past it: such a file could only fail when written, as if the disk were full.
    const int length = QFile::encodeName(path).size();
    if (length >= PATH_MAX)
        throw std::runtime_error(
            QStringLiteral("The document entry '%1' is a path of %2 bytes in the installation, "
                           "longer than a file system allows.")
                .arg(LocalFile)
                .arg(length)
                .toStdString());
    return path;
}

QString landingPath(const QString& Path, QHash<QString, QString>& Folders)
{
    const auto below = [&Path](const QString& Folder, const QString& Rest) {
        if (Folder.isEmpty())
            return Path;
        return Folder.endsWith(QLatin1Char('/')) ? Folder + Rest : Folder + QLatin1Char('/') + Rest;
    };
    QString folder = QFileInfo(Path).path();
    QString rest = QFileInfo(Path).fileName();
    while (true) {
        const auto known = Folders.constFind(folder);
        if (known != Folders.constEnd())
            return below(known.value(), rest);
        const QString real = QFileInfo(folder).canonicalFilePath();
        if (!real.isEmpty() || QFileInfo(folder).path() == folder) {
            Folders.insert(folder, real);
            return below(real, rest);
        }
        // Not there yet: it lands wherever its deepest existing folder is.
        rest = QFileInfo(folder).fileName() + QLatin1Char('/') + rest;
        folder = QFileInfo(folder).path();
    }
}

} // namespace orvik::launcher
