#pragma once

#include <QDir>
#include <QString>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

class TFileInPackageVector;
struct TLauncherSettings;

// Why a launcher package must not be installed into the launcher's folder; empty when it may.
//
// The folder holds more than the launcher, and the update replaces or deletes whatever the package
// names there. A launcher package may name only the launcher's own files: its program, libraries,
// translation and resources, in the folder or below it. It is refused as a whole when an entry
//  - names no file inside the folder;
//  - is, directly in the folder, the settings file, an installation marker (the package, partial
//    package and assets documents, their signatures, "default", "FORCE_PATCH");
//  - is, anywhere, a "*.old" file (what a failed update goes back to), a "*.log" file, or a
//    temporary file of an interrupted write (those are removed as left-overs);
// or when the running executable is not among its files as an executable: the restart would find
// nothing to start, and the folder no launcher.
QString launcherPackageRefusal(::shared::TFileSystemHelper& FileSystem,
                               const QDir& LauncherDirectory, const QString& RunningExecutable,
                               const TLauncherSettings& Settings,
                               const TFileInPackageVector& Files);

} // namespace orvik::launcher
