#pragma once

#include <QDir>
#include <QHash>
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

// Where Path, a cleaned absolute path, lands on disk: its deepest folder that exists with every
// link on the way followed, then the rest as written (a link in the last name's place is replaced,
// never written through). Two entries that reach the same file through links land on the same
// path. Folders is a cache of resolved folders for a run over many paths.
QString landingPath(const QString& Path, QHash<QString, QString>& Folders);

} // namespace orvik::launcher
