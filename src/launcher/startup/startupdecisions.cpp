// What the launcher does once its configuration is in: the steps from the loaded configuration
// to the decision between self-update, the main window and the client start.
#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/startup/launcherconstants.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QWidget>

namespace orvik::launcher {

void TLauncherApplication::connectConfigurationHandler()
{
    TLauncherConfigurationHandler* handler = m_pConfigurationHandler;
    QObject::connect(handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, this,
                     [this] { onMainConfigurationLoaded(); });
    QObject::connect(handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, this,
                     [this] { showMaintenanceMessageAndExit(); });
    QObject::connect(handler, &TLauncherConfigurationHandler::diskAccessFailed, this,
                     [this](const QString& message) { showCriticalFileErrorAndExit(message); });
    QObject::connect(handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished,
                     this, [this] { onPackageConfigurationDownloadsFinished(); });
}

void TLauncherApplication::onMainConfigurationLoaded()
{
    m_pConfigurationHandler->requestPackageConfigurations();
    maintainExecutableLink();
}

void TLauncherApplication::maintainExecutableLink()
{
    // A link in the per-user data directory lets desktop entries and the client find the
    // launcher wherever it was unpacked. A link that exists is left alone, even a stale one
    // whose target still exists, so that a user's own redirection survives.
    const QString executable = applicationFilePath();
    const QDir dataDirectory(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    const QString linkPath = dataDirectory.filePath(QFileInfo(executable).fileName());
    const QFileInfo link(linkPath);
    if (link.exists() && link.isSymLink())
        return;
    dataDirectory.mkpath(QStringLiteral("."));
    QFile::remove(linkPath);
    if (!QFile::link(executable, linkPath))
        qWarning() << "Could not link" << linkPath << "to" << executable << threadSuffix;
}

void TLauncherApplication::onPackageConfigurationDownloadsFinished()
{
    const auto& configuration = m_pConfigurationHandler->getLauncherConfiguration();
    const TPackage* launcherPackage =
        configuration ? configuration->getLauncherPackage().get() : nullptr;
    const TPackageConfigurationReader* launcherBuild =
        launcherPackage ? launcherPackage->getConfiguration() : nullptr;

    if (!isSelfUpdateSkipped() && launcherBuild) {
        const QString version = launcherBuild->getVersion().isEmpty() ? QStringLiteral("?")
                                                                      : launcherBuild->getVersion();
        if (version != constants::kLauncherVersion) {
            qInfo() << "startSelfUpdate " << version << threadSuffix;
            // Without a self-updater the update cannot run: carry on as after a failed update.
            onLauncherReadyForAction();
            return;
        }
    }
    cleanupOldLauncherVersion();
    onLauncherReadyForAction();
}

void TLauncherApplication::cleanupOldLauncherVersion()
{
    qInfo() << "cleanupOldLauncherVersion" << threadSuffix;
    const QDir directory(applicationDirPath());
    const QStringList oldFiles =
        directory.entryList({QStringLiteral("*") + constants::kOldVersionSuffix}, QDir::Files);
    for (const QString& name : oldFiles) {
        if (!QFile::remove(directory.filePath(name)))
            qWarning() << "Could not remove" << directory.filePath(name) << threadSuffix;
    }
}

void TLauncherApplication::onLauncherReadyForAction()
{
    qInfo() << "onLauncherReadyForAction" << threadSuffix;
    m_StartupTimer.stop();
    hideSplashScreen();
    showMainWindow();
}

void TLauncherApplication::showMainWindow()
{
    if (!m_pMainWindow) {
        m_pMainWindow = new QWidget;
        m_pMainWindow->setWindowTitle(constants::kApplicationName);
    }
    m_pMainWindow->show();
}

} // namespace orvik::launcher
