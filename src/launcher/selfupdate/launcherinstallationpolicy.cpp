#include "launcher/selfupdate/launcherinstallationpolicy.h"

#include "launcher/logging/logging.h"
#include "launcher/selfupdate/oldversion.h"
#include "launcher/selfupdate/selfupdatecheckpoint.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QFile>

namespace orvik::launcher {

QString TLauncherInstallationPolicy::prepareFile(::shared::TFileSystemHelper&, const QString& Path,
                                                 bool KeepsContent) const
{
    // On Linux the running launcher can remove its own files, so "move aside only when removal
    // fails" would mean no old version to go back to and, killed now, no launcher at all. The old
    // file is always kept as ".old" and stays in place until the new one is complete.
    keepOldVersion(Path);
    // Readable by everybody, as an installed program file is.
    const QString writePath =
        ::shared::createReplacementFile(Path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
    if (!KeepsContent)
        return writePath;
    // Ranges kept from the installed file go into the replacement too.
    QFile::remove(writePath);
    if (!QFile::copy(Path, writePath))
        throw ::shared::ioError(writePath, QStringLiteral("couldn't copy the installed file"));
    return writePath;
}

void TLauncherInstallationPolicy::completeFile(const QString& WritePath, const QString& Path) const
{
    // A folder where the file belongs was moved aside when the file was prepared; rename cannot
    // replace one.
    ::shared::putReplacementInPlace(WritePath, Path);
    qInfo() << "putReplacementInPlace" << Path << threadSuffix;
    passSelfUpdateCheckpoint("replaced");
}

void TLauncherInstallationPolicy::removeFile(::shared::TFileSystemHelper&,
                                             const QString& Path) const
{
    moveAsideAsOldVersion(Path); // a failed self-update puts it back
}

} // namespace orvik::launcher
