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

QString below(const QString& Folder, const QString& Name)
{
    return Folder.endsWith(QLatin1Char('/')) ? Folder + Name : Folder + QLatin1Char('/') + Name;
}

// A folder that does not exist yet lands below where its parent does.
QString landingFolder(const QString& Folder, QHash<QString, QString>& Folders)
{
    const auto known = Folders.constFind(Folder);
    if (known != Folders.constEnd())
        return known.value();
    QString landing = QFileInfo(Folder).canonicalFilePath();
    if (landing.isEmpty()) {
        const QString parent = QFileInfo(Folder).path();
        landing = parent == Folder
                      ? Folder
                      : below(landingFolder(parent, Folders), QFileInfo(Folder).fileName());
    }
    Folders.insert(Folder, landing);
    return landing;
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
    return below(landingFolder(QFileInfo(Path).path(), Folders), QFileInfo(Path).fileName());
}

} // namespace orvik::launcher
