#include "launcher/selfupdate/launcherselfupdater.h"

#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "launcher/package/package.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/selfupdate/launcherinstallationpolicy.h"
#include "launcher/selfupdate/launcherpackagecheck.h"
#include "launcher/selfupdate/oldversion.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryFile>

namespace orvik::launcher {

TLauncherSelfUpdater::TLauncherSelfUpdater(
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper)
    : m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
{}

TLauncherSelfUpdater::~TLauncherSelfUpdater()
{
    delete m_pInstallationManager;
}

QDir TLauncherSelfUpdater::launcherDirectory()
{
    // Where the installation manager puts the launcher package.
    return QDir(QCoreApplication::applicationDirPath());
}

QString TLauncherSelfUpdater::remoteVersion(const TPackageConfigurationReader& Configuration)
{
    return Configuration.getVersion().isEmpty() ? QStringLiteral("?") : Configuration.getVersion();
}

std::set<QString>
TLauncherSelfUpdater::resolveFiles(const TPackageConfigurationReader& Configuration) const
{
    std::set<QString> files;
    const QDir directory = launcherDirectory();
    for (const TFileInPackage& file : Configuration.getFiles()) {
        try {
            files.insert(resolveFileInInstallation(m_pLauncherFilesystemHelper->fileSystem(),
                                                   directory, file.LocalFile));
        } catch (const std::runtime_error&) {
            // Names no file of the launcher: nothing of it is touched.
        }
    }
    return files;
}

QString TLauncherSelfUpdater::writeProblem()
{
    // Named like an interrupted write of the launcher, so that a probe left by a kill is swept
    // with the left-overs of the next update.
    QTemporaryFile probe(QCoreApplication::applicationFilePath() +
                         ::shared::kInterruptedWriteMarker + QStringLiteral("XXXXXX"));
    if (!probe.open())
        return probe.errorString();
    probe.close();
    if (!probe.remove())
        return probe.errorString();
    return {};
}

bool TLauncherSelfUpdater::startSelfUpdate(
    const std::shared_ptr<TLauncherConfigurationReader>& Configuration)
{
    const std::shared_ptr<TPackage> package =
        Configuration ? Configuration->getLauncherPackage() : nullptr;
    const TPackageConfigurationReader* remote = package ? package->getConfiguration() : nullptr;
    if (!remote)
        return false;
    const QString version = remoteVersion(*remote);
    const QDir directory = launcherDirectory();
    const auto settings = m_pLauncherFilesystemHelper->settings();
    // A launcher killed during its update left the partial marker; whichever version runs now,
    // the update is finished before anything else, so the directory does not stay half-updated.
    const bool interrupted = QFileInfo::exists(directory.filePath(settings->partialPackageFile));
    if (version == constants::kLauncherVersion && !interrupted)
        return false;

    // Both checks come before the first write: a package that would break the folder, or a
    // folder that takes no writes (the system package's folder, a read-only mount), leaves the
    // player with the launcher that runs now.
    const QString refusal = launcherPackageRefusal(
        m_pLauncherFilesystemHelper->fileSystem(), directory,
        QCoreApplication::applicationFilePath(), *settings, remote->getFiles());
    if (!refusal.isEmpty()) {
        qCritical() << "Launcher package" << version << "refused:" << refusal
                    << "- the running launcher goes on" << threadSuffix;
        return false;
    }
    const QString problem = writeProblem();
    if (!problem.isEmpty()) {
        qWarning() << "Self-update to" << version << "skipped: the launcher's folder"
                   << directory.absolutePath() << "cannot be written:" << problem
                   << "- the running launcher goes on" << threadSuffix;
        return false;
    }

    qInfo() << "startSelfUpdate " << version << threadSuffix;
    if (interrupted)
        qInfo() << "An earlier update of the launcher was interrupted; it is finished now"
                << threadSuffix;
    m_pLauncherConfigurationReader = Configuration;
    m_bFailed = false;
    delete m_pInstallationManager;
    m_pInstallationManager =
        new TInstallationManager(Configuration, m_pLauncherFilesystemHelper,
                                 std::make_shared<const TLauncherInstallationPolicy>());
    connect(m_pInstallationManager, &TInstallationManager::installationOrUpdateFinished, this,
            &TLauncherSelfUpdater::onInstallationOrUpdateFinished);
    connect(m_pInstallationManager, &TInstallationManager::diskAccessFailed, this,
            &TLauncherSelfUpdater::onUpdateDiskAccessFailed);

    m_NewFiles = resolveFiles(*remote);
    std::set<QString> touched = m_NewFiles;
    const std::set<QString> installed = resolveFiles(
        m_pInstallationManager->readPackageConfigurationFromInstallationDirectory(directory));
    touched.insert(installed.begin(), installed.end());
    const auto [partialMarker, fullMarker] =
        m_pInstallationManager->getInstallationMarkerPaths(directory);
    m_Snapshot = TLauncherDirectorySnapshot(
        m_pLauncherFilesystemHelper->fileSystem(), std::move(touched),
        {partialMarker, fullMarker, directory.filePath(settings->assetFile)});
    try {
        m_Snapshot.removeLeftOvers();
        m_pInstallationManager->installOrUpdatePackage(package);
    } catch (const std::runtime_error& error) {
        qCritical() << "Updating Kestrun Online failed before the installation ran:" << error.what()
                    << threadSuffix;
        delete m_pInstallationManager;
        m_pInstallationManager = nullptr;
        m_Snapshot.restore();
        return false;
    }
    return true;
}

void TLauncherSelfUpdater::onUpdateDiskAccessFailed(const QString& ErrorMessage)
{
    // The running launcher is whole whatever the update did to its folder: a file error of the
    // update is a failed update, not a reason to stop the player.
    if (m_bFailed)
        return;
    qCritical() << "Updating Kestrun Online failed:" << ErrorMessage << threadSuffix;
    failUpdate();
}

void TLauncherSelfUpdater::onInstallationOrUpdateFinished(
    TPackageInstallation* InstallationInProgress)
{
    if (m_bFailed)
        return;
    const bool installed =
        InstallationInProgress->isWithoutError() &&
        InstallationInProgress->getPackage()->getLocalStatus() == ELocalPackageStatus::Installed;
    if (installed) {
        emit updateDownloadFinishedAndRestartRequired();
        return;
    }
    qCritical() << "Updating Kestrun Online failed: Error"
                << int(InstallationInProgress->getErrorReason()) << threadSuffix;
    failUpdate();
}

bool TLauncherSelfUpdater::putBack()
{
    m_bFailed = true;
    try {
        m_Snapshot.restore();
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
        return false;
    }
    return true;
}

void TLauncherSelfUpdater::failUpdate()
{
    if (putBack())
        emit updateFailed();
}

void TLauncherSelfUpdater::onRestarted()
{
    dropOldVersionsOfDeletedFiles();
}

bool TLauncherSelfUpdater::restoreAfterFailedRestart()
{
    qCritical() << "Updating Kestrun Online failed: the updated launcher did not start"
                << threadSuffix;
    return putBack();
}

void TLauncherSelfUpdater::dropOldVersionsOfDeletedFiles() const
{
    // Kept only to go back to; the new version's own ".old" files go with the cleanup after the
    // restart, these are listed by no marker any more.
    for (const QString& file : m_Snapshot.files()) {
        if (m_NewFiles.count(file))
            continue;
        try {
            removeOldVersion(file);
        } catch (const std::runtime_error& error) {
            qWarning() << "Could not remove" << oldVersionPath(file) << error.what()
                       << threadSuffix;
        }
    }
}

void TLauncherSelfUpdater::cleanupOldLauncherVersion()
{
    qInfo() << "cleanupOldLauncherVersion" << threadSuffix;
    const QDir directory = launcherDirectory();
    const QString marker = directory.filePath(m_pLauncherFilesystemHelper->settings()->packageFile);
    // Without a completed installation there is no list of the launcher's files; an interrupted
    // update keeps its ".old" files until it is finished.
    if (!QFileInfo::exists(marker))
        return;
    std::set<QString> files;
    try {
        const QUrl base = QUrl::fromLocalFile(directory.absolutePath() + QLatin1Char('/'));
        files = resolveFiles(TPackageConfigurationReader(
            m_pLauncherFilesystemHelper->fileSystem().readFile(marker), QByteArray(), base, base));
    } catch (const std::exception& error) {
        qWarning() << "cleanupOldLauncherVersion cannot read" << marker << error.what()
                   << threadSuffix;
        return;
    }
    for (const QString& file : files) {
        try {
            if (removeOldVersion(file))
                qInfo() << "Removed" << oldVersionPath(file) << threadSuffix;
        } catch (const std::runtime_error& error) {
            qWarning() << "Could not remove" << oldVersionPath(file) << error.what()
                       << threadSuffix;
        }
    }
}

} // namespace orvik::launcher
