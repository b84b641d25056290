#pragma once

#include <QDir>
#include <QString>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

// Where a file entry of a document lives: a path strictly inside the installation directory,
// cleaned as the file-system helper cleans it. Throws std::runtime_error when the entry names no
// file there: "", ".", "dir/..", "screenshots/." or a path that climbs back onto the installation
// directory itself. Deleting or downloading such an entry would remove or replace a whole folder,
// the player's own files in it included. Also throws when a link among the folders of the path
// leads out of the installation: the write or the deletion would land where the link points.
QString resolveFileInInstallation(::shared::TFileSystemHelper& FileSystem,
                                  const QDir& InstallationDirectory, const QString& LocalFile);

} // namespace orvik::launcher
