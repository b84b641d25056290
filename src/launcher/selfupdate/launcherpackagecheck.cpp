#include "launcher/selfupdate/launcherpackagecheck.h"

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/package/installationpath.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/settings/launchersettings.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/signature/documentsignature.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <set>
#include <stdexcept>

namespace orvik::launcher {

namespace {

// The names directly beside the launcher that belong to the player, the studio or the install
// bookkeeping rather than to the launcher package.
std::set<QString> reservedNames(const TLauncherSettings& Settings)
{
    std::set<QString> names = {settingskeys::kFileName, QStringLiteral("default"),
                               constants::kForcedUpdateMarker};
    for (const QString& marker :
         {Settings.packageFile, Settings.partialPackageFile, Settings.assetFile}) {
        if (marker.isEmpty())
            continue;
        names.insert(marker);
        names.insert(::shared::signature::signaturePath(marker));
    }
    return names;
}

bool isBookkeepingName(const QString& Name)
{
    static const QRegularExpression interruptedWrite(
        QStringLiteral("%1[^/]{6}$")
            .arg(QRegularExpression::escape(::shared::kInterruptedWriteMarker)));
    return Name.endsWith(constants::kOldVersionSuffix) || Name.endsWith(QLatin1String(".log")) ||
           interruptedWrite.match(Name).hasMatch();
}

} // namespace

QString launcherPackageRefusal(::shared::TFileSystemHelper& FileSystem,
                               const QDir& LauncherDirectory, const QString& RunningExecutable,
                               const TLauncherSettings& Settings, const TFileInPackageVector& Files)
{
    const QString directory = QDir::cleanPath(LauncherDirectory.absolutePath());
    const QString executable = QDir::cleanPath(QFileInfo(RunningExecutable).absoluteFilePath());
    const std::set<QString> reserved = reservedNames(Settings);
    bool executableFound = false;
    for (const TFileInPackage& file : Files) {
        QString path;
        try {
            path = resolveFileInInstallation(FileSystem, LauncherDirectory, file.LocalFile);
        } catch (const std::runtime_error&) {
            return QStringLiteral("'%1' names no file inside the launcher's folder")
                .arg(file.LocalFile);
        }
        const QFileInfo info(path);
        if ((info.absolutePath() == directory && reserved.count(info.fileName())) ||
            isBookkeepingName(info.fileName()))
            return QStringLiteral("'%1' is not a file of the launcher").arg(file.LocalFile);
        if (path == executable) {
            if (!file.Executable)
                return QStringLiteral("the launcher '%1' is not marked executable")
                    .arg(file.LocalFile);
            executableFound = true;
        }
    }
    if (!executableFound)
        return QStringLiteral("it does not contain the running launcher '%1'")
            .arg(QDir(directory).relativeFilePath(executable));
    return {};
}

} // namespace orvik::launcher
