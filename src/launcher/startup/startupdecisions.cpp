// What the launcher does once its configuration is in: the steps from the loaded configuration
// to the decision between self-update, the main window and the client start.
#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/progress/progressjsonprinter.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/selfupdate/selfupdatecheckpoint.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/ui/launchermainwindow.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/singleinstance/singleinstanceguard.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>

namespace orvik::launcher {

namespace {

// In the player's own settings of the launcher, beside the funnel flags.
const QString kMaxDownloadRateKey = QStringLiteral("downloads/maxRate");

} // namespace

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

void TLauncherApplication::connectSelfUpdater()
{
    QObject::connect(m_pSelfUpdater,
                     &TLauncherSelfUpdater::updateDownloadFinishedAndRestartRequired, this,
                     [this] { restartAfterSelfUpdate(); });
    // The launcher goes on with the version it has.
    QObject::connect(m_pSelfUpdater, &TLauncherSelfUpdater::updateFailed, this,
                     [this] { onLauncherReadyForAction(); });
    QObject::connect(m_pSelfUpdater, &TLauncherSelfUpdater::diskAccessFailed, this,
                     [this](const QString& message) { showCriticalFileErrorAndExit(message); });
}

void TLauncherApplication::onPackageConfigurationDownloadsFinished()
{
    if (!isSelfUpdateSkipped() && startSelfUpdate())
        return;
    cleanupOldLauncherVersion();
    onLauncherReadyForAction();
}

bool TLauncherApplication::startSelfUpdate()
{
    if (!m_pSelfUpdater->startSelfUpdate(m_pConfigurationHandler->getLauncherConfiguration()))
        return false;
    showSplashScreen(constants::kUpdatingSplashImage);
    return true;
}

void TLauncherApplication::cleanupOldLauncherVersion()
{
    m_pSelfUpdater->cleanupOldLauncherVersion();
}

void TLauncherApplication::restartAfterSelfUpdate()
{
    // Qt keeps the path it found at start-up (the translation is looked up beside it), before the
    // update renamed a new file over the executable.
    const QString program = applicationFilePath();
    QStringList arguments = QCoreApplication::arguments().mid(1);
    arguments << QStringLiteral("--%1").arg(QStringLiteral("skip-selfupdate"));
    qInfo() << "restartAfterSelfUpdate" << program << arguments << threadSuffix;
    passSelfUpdateCheckpoint("before-restart");
    // The new launcher must not find this one still holding the single instance.
    m_pSingleInstanceGuard.reset();
    if (QProcess::startDetached(program, arguments, QDir::currentPath())) {
        m_pSelfUpdater->onRestarted();
        QCoreApplication::exit(0);
        return;
    }
    qCritical() << "Could not start the updated launcher" << program << threadSuffix;
    // This process is still the whole old launcher: with its files back it goes on as if the
    // update had failed, instead of leaving a folder that cannot start.
    if (!m_pSelfUpdater->restoreAfterFailedRestart())
        return; // the critical box ends the launcher
    m_pSingleInstanceGuard =
        std::make_unique<::shared::TSingleInstanceGuard>(constants::kSingleInstanceKey);
    if (m_pSingleInstanceGuard->acquire() != ::shared::TSingleInstanceGuard::EOutcome::Acquired) {
        qInfo() << "Version: " << constants::kLauncherVersion << "already running" << threadSuffix;
        QCoreApplication::exit(0);
        return;
    }
    onLauncherReadyForAction();
}

void TLauncherApplication::onLauncherReadyForAction()
{
    qInfo() << "onLauncherReadyForAction" << threadSuffix;
    try {
        createInstallationManager();
        std::vector<std::shared_ptr<TPackage>> updates = takeForcedUpdates();
        m_StartupTimer.stop();
        hideSplashScreen();
        if (isFirstLaunch())
            installAutomaticPackages();
        else if (!patchExecutable().isEmpty() || !updates.empty())
            installPatchOrForcedUpdates(std::move(updates));
        else if (isUiRequested())
            showMainWindow();
        else
            startDefaultClientOrShowWindow();
    } catch (const std::exception& error) {
        showCriticalFileErrorAndExit(QString::fromUtf8(error.what()));
    }
}

void TLauncherApplication::createInstallationManager()
{
    delete m_pInstallationManager;
    m_pInstallationManager = new TInstallationManager(
        m_pConfigurationHandler->getLauncherConfiguration(), m_pLauncherFilesystemHelper);
    if (m_pProgressJsonPrinter)
        m_pProgressJsonPrinter->watch(m_pInstallationManager);
    // The player's own speed limit, chosen in the window, outlives the run.
    const QVariant rate = QSettings().value(kMaxDownloadRateKey);
    if (rate.isValid())
        m_pInstallationManager->setMaxDownloadRate(rate.toLongLong());
    // How long the window could not answer while installations ran: worth a line in the log
    // when a player says it froze.
    QObject::connect(m_pInstallationManager, &TInstallationManager::installationOrUpdateStarted,
                     this, [this] {
                         if (!m_EventLoopWatch.isRunning())
                             m_EventLoopWatch.start();
                     });
    QObject::connect(m_pInstallationManager, &TInstallationManager::allStartedUpdatesFinished, this,
                     [this] {
                         qInfo() << "Event loop: largest delay" << m_EventLoopWatch.stop()
                                 << "ms during installations" << threadSuffix;
                         runGuarded([this] { onAllStartedUpdatesFinished(); });
                     });
    QObject::connect(m_pInstallationManager, &TInstallationManager::diskAccessFailed, this,
                     [this](const QString& message) { showCriticalFileErrorAndExit(message); });
}

void TLauncherApplication::installAutomaticPackages()
{
    showMainWindow();
    std::shared_ptr<TPackage> firstAutomatic;
    for (const auto& package : m_pConfigurationHandler->getLauncherConfiguration()->getPackages()) {
        if (!package->getInstallAutomatically())
            continue;
        m_pInstallationManager->installOrUpdatePackage(package);
        if (!firstAutomatic)
            firstAutomatic = package;
    }
    if (firstAutomatic) {
        m_pInstallationManager->setDefaultPackage(firstAutomatic);
        m_pMainWindow->setDefault(firstAutomatic, true);
    }
    finishAtOnceWhenNothingStarted();
}

void TLauncherApplication::installPatchOrForcedUpdates(
    std::vector<std::shared_ptr<TPackage>> Updates)
{
    const QString patch = patchExecutable();
    m_pPatchPackage =
        patch.isEmpty() ? nullptr : m_pInstallationManager->findPackageByExecutablePath(patch);
    showMainWindow();
    if (m_pPatchPackage &&
        std::find(Updates.begin(), Updates.end(), m_pPatchPackage) == Updates.end())
        Updates.push_back(m_pPatchPackage);
    if (Updates.empty()) {
        const QString text =
            tr("Could not determine patch information. Your client might no longer be supported.");
        qCritical() << "Client patching failed:" << patch << text << threadSuffix;
        if (isHeadless()) {
            QCoreApplication::exit(1);
            return;
        }
        QMessageBox::information(m_pMainWindow, tr("Client patching failed"), text,
                                 QMessageBox::Ok);
        return;
    }
    for (const auto& package : Updates)
        m_pInstallationManager->installOrUpdatePackage(package);
    finishAtOnceWhenNothingStarted();
}

void TLauncherApplication::startDefaultClientOrShowWindow()
{
    const std::shared_ptr<TPackage> client = m_pInstallationManager->getDefaultPackage();
    if (client && client->getLocalStatus() == ELocalPackageStatus::Installed)
        startPackageAndExit(client);
    else if (!client)
        showMainWindowOrFail(QStringLiteral("No default client is installed."));
    else
        showMainWindowOrFail(
            QStringLiteral("The default client %1 is not ready to start.").arg(client->getName()));
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
        // The request goes only once the repair is recorded: killed in between, the launcher
        // would start the damaged game as installed with nothing left to ask for its repair.
        m_pInstallationManager->recordRepairRequest(*package);
        fileSystem.deleteFile(marker);
        ::shared::syncDirectory(QFileInfo(marker).absolutePath());
        passSelfUpdateCheckpoint("repair-requested");
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
    if (m_pMainWindow) {
        m_pMainWindow->show();
        return;
    }
    auto* window = new TLauncherMainWindow(m_pConfigurationHandler->getLauncherConfiguration(),
                                           m_pConfigurationHandler->getDownloadPool(),
                                           m_pInstallationManager, m_pCdnTrace);
    QObject::connect(m_pConfigurationHandler, &TLauncherConfigurationHandler::hintsAreaDataReceived,
                     window, &TLauncherMainWindow::setHints);
    QObject::connect(window, &TLauncherMainWindow::defaultChanged, this,
                     [this](const std::shared_ptr<TPackage>& Package, bool IsDefault) {
                         onDefaultChanged(Package, IsDefault);
                     });
    QObject::connect(
        window, &TLauncherMainWindow::maxDownloadRateChosen, this,
        [](qint64 BytesPerSecond) { QSettings().setValue(kMaxDownloadRateKey, BytesPerSecond); });
    QObject::connect(window, &TLauncherMainWindow::clientPackageButtonClicked, this,
                     [this](const std::shared_ptr<TPackage>& Package) {
                         onClientStartOrInstallTriggeredFromUI(Package);
                     });
    QObject::connect(window, &TLauncherMainWindow::clientPackageVerifyButtonClicked, this,
                     [this](const std::shared_ptr<TPackage>& Package) {
                         onClientVerifyTriggeredFromUI(Package);
                     });
    m_pMainWindow = window;
    m_pMainWindow->show();
}

} // namespace orvik::launcher
