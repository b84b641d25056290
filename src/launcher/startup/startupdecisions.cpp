// What the launcher does once its configuration is in: the steps from the loaded configuration
// to the decision between self-update, the main window and the client start.
#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/startup/launcherconstants.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QStandardPaths>
#include <QWidget>

#include <algorithm>

namespace orvik::launcher {

template <typename TStep> void TLauncherApplication::runGuarded(TStep&& Step)
{
    try {
        Step();
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
}

void TLauncherApplication::connectConfigurationHandler()
{
    TLauncherConfigurationHandler* handler = m_pConfigurationHandler;
    QObject::connect(handler, &TLauncherConfigurationHandler::mainConfigurationLoaded, this,
                     [this] { runGuarded([this] { onMainConfigurationLoaded(); }); });
    QObject::connect(handler, &TLauncherConfigurationHandler::mainConfigurationDownloadFailed, this,
                     [this] { showMaintenanceMessageAndExit(); });
    QObject::connect(handler, &TLauncherConfigurationHandler::diskAccessFailed, this,
                     [this](const QString& message) { showCriticalFileErrorAndExit(message); });
    QObject::connect(handler, &TLauncherConfigurationHandler::packageConfigurationDownloadsFinished,
                     this,
                     [this] { runGuarded([this] { onPackageConfigurationDownloadsFinished(); }); });
}

void TLauncherApplication::onMainConfigurationLoaded()
{
    startSystemSurvey();
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
    try {
        delete m_pInstallationManager;
        m_pInstallationManager = new TInstallationManager(
            m_pConfigurationHandler->getLauncherConfiguration(), m_pLauncherFilesystemHelper);
        std::vector<std::shared_ptr<TPackage>> updates = takeForcedUpdates();
        QObject::connect(m_pInstallationManager, &TInstallationManager::allStartedUpdatesFinished,
                         this, [this] { runGuarded([this] { onAllStartedUpdatesFinished(); }); });
        QObject::connect(m_pInstallationManager, &TInstallationManager::diskAccessFailed, this,
                         [this](const QString& message) { showCriticalFileErrorAndExit(message); });
        m_StartupTimer.stop();
        hideSplashScreen();

        const auto& configuration = *m_pConfigurationHandler->getLauncherConfiguration();
        if (isFirstLaunch()) {
            showMainWindow();
            std::shared_ptr<TPackage> firstAutomatic;
            for (const auto& package : configuration.getPackages()) {
                if (!package->getInstallAutomatically())
                    continue;
                m_pInstallationManager->installOrUpdatePackage(package);
                if (!firstAutomatic)
                    firstAutomatic = package;
            }
            if (firstAutomatic)
                m_pInstallationManager->setDefaultPackage(firstAutomatic);
            finishAtOnceWhenNothingStarted();
            return;
        }

        const QString patch = patchExecutable();
        if (!patch.isEmpty() || !updates.empty()) {
            m_pPatchPackage = patch.isEmpty()
                                  ? nullptr
                                  : m_pInstallationManager->findPackageByExecutablePath(patch);
            showMainWindow();
            if (m_pPatchPackage &&
                std::find(updates.begin(), updates.end(), m_pPatchPackage) == updates.end())
                updates.push_back(m_pPatchPackage);
            if (updates.empty()) {
                const QString text = QStringLiteral("Could not determine patch information. Your "
                                                    "client might no longer be supported.");
                qCritical() << "Client patching failed:" << patch << text << threadSuffix;
                if (isHeadless()) {
                    QCoreApplication::exit(1);
                    return;
                }
                QMessageBox::information(m_pMainWindow, QStringLiteral("Client patching failed"),
                                         text, QMessageBox::Ok);
                return;
            }
            for (const auto& package : updates)
                m_pInstallationManager->installOrUpdatePackage(package);
            finishAtOnceWhenNothingStarted();
            return;
        }

        if (isUiRequested()) {
            showMainWindow();
            return;
        }
        const std::shared_ptr<TPackage> client = m_pInstallationManager->getDefaultPackage();
        if (client && client->getLocalStatus() == ELocalPackageStatus::Installed)
            startPackageAndExit(client);
        else if (!client)
            showMainWindowOrFail(QStringLiteral("No default client is installed."));
        else
            showMainWindowOrFail(QStringLiteral("The default client %1 is not ready to start.")
                                     .arg(client->getName()));
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
}

std::vector<std::shared_ptr<TPackage>> TLauncherApplication::takeForcedUpdates()
{
    std::vector<std::shared_ptr<TPackage>> forced;
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    for (const auto& package : m_pConfigurationHandler->getLauncherConfiguration()->getPackages()) {
        if (!package->getConfiguration())
            continue;
        const QString marker = m_pInstallationManager->getInstallationDirectory(*package).filePath(
            constants::kForcedUpdateMarker);
        if (!fileSystem.fileExists(marker))
            continue;
        fileSystem.deleteFile(marker);
        forced.push_back(package);
    }
    return forced;
}

void TLauncherApplication::onAllStartedUpdatesFinished()
{
    const auto& configuration = m_pConfigurationHandler->getLauncherConfiguration();
    if (!configuration || configuration->getPreventDefaultAutostart())
        return;
    if (isFirstLaunch()) {
        const std::shared_ptr<TPackage> client = m_pInstallationManager->getDefaultPackage();
        if (client && client->getLocalStatus() == ELocalPackageStatus::Installed)
            startPackageAndExit(client);
        else if (client && !client->getConfiguration())
            showMainWindowOrFail(
                QStringLiteral("No usable package document for %1.").arg(client->getName()));
        else if (client)
            showMainWindowOrFail(
                QStringLiteral("Installation of %1 did not finish.").arg(client->getName()));
        return;
    }
    if (patchExecutable().isEmpty() || !m_pPatchPackage)
        return;
    // A half-updated client must not be started as if the patch had worked.
    if (m_pPatchPackage->getLocalStatus() != ELocalPackageStatus::Installed) {
        qCritical() << "Patch of" << m_pPatchPackage->getName()
                    << "failed, the client is not started" << threadSuffix;
        QCoreApplication::exit(1);
        return;
    }
    startPackageAndExit(m_pPatchPackage);
}

void TLauncherApplication::finishAtOnceWhenNothingStarted()
{
    // A package without a usable document starts no installation, so no installation would
    // ever report the end that the decisions after it wait for.
    if (m_pInstallationManager->getInstallationsInProgress().empty())
        onAllStartedUpdatesFinished();
}

void TLauncherApplication::showMainWindowOrFail(const QString& Reason)
{
    if (!isHeadless()) {
        qInfo() << "showMainWindow:" << Reason << threadSuffix;
        showMainWindow();
        return;
    }
    qCritical() << "Nothing to start without a display:" << Reason << threadSuffix;
    QCoreApplication::exit(1);
}

void TLauncherApplication::onClientStartOrInstallTriggeredFromUI(
    const std::shared_ptr<TPackage>& Package)
{
    qInfo() << "onClientStartOrInstallTriggeredFromUI " << Package->getName() << threadSuffix;
    try {
        switch (Package->getLocalStatus()) {
        case ELocalPackageStatus::Installed:
            startPackageAndExit(Package);
            break;
        case ELocalPackageStatus::NotInstalled:
        case ELocalPackageStatus::PartiallyInstalled:
        case ELocalPackageStatus::UpdateAvailable:
            m_pInstallationManager->installOrUpdatePackage(Package);
            break;
        case ELocalPackageStatus::Unknown:
            break;
        }
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
}

void TLauncherApplication::onClientVerifyTriggeredFromUI(const std::shared_ptr<TPackage>& Package)
{
    try {
        m_pInstallationManager->verifyPackage(Package);
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
}

void TLauncherApplication::onDefaultChanged(const std::shared_ptr<TPackage>& Package,
                                            bool IsDefault)
{
    try {
        m_pInstallationManager->setDefaultPackage(IsDefault ? Package : nullptr);
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
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
