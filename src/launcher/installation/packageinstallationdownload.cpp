// The download half of an installation: from the plan to the end of the download phase.
#include "launcher/installation/packageinstallation.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/leftovers.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/filesystemhelper/durability.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include <QFileInfo>
#include <QNetworkAccessManager>

#include <algorithm>

#include <utility>

namespace orvik::launcher {

namespace {

// Throws std::runtime_error when a file cannot be removed.
void deleteFiles(TLauncherFilesystemHelper& Helper, const QDir& Directory,
                 const TInstallationPolicy& Policy, const std::vector<TFileInPackage>& Files)
{
    auto& fileSystem = Helper.fileSystem();
    std::vector<QString> removed;
    removed.reserve(Files.size());
    for (const TFileInPackage& file : Files) {
        // The path comes from a document: it is resolved strictly inside the installation, so a
        // hostile one cannot reach the installation as a whole or anything else the user owns.
        // Planning listed only such paths, and no folder that holds a wanted file.
        QString path;
        try {
            path = resolveFileInInstallation(fileSystem, Directory, file.LocalFile);
        } catch (const std::runtime_error& error) {
            qWarning() << "startDownload skips deleting: " << error.what() << threadSuffix;
            continue;
        }
        Policy.removeFile(fileSystem, path);
        removed.push_back(path);
    }
    // A renamed folder would stay behind empty for good: no document lists folders.
    removeFoldersLeftEmpty(Directory, removed);
    // Before the partial marker names the new version, which no longer lists them: brought back
    // by a power cut, they would stay for good.
    if (!removed.empty())
        ::shared::makeRemovalsDurable(Directory.absolutePath(),
                                      QStringList(removed.begin(), removed.end()));
}

} // namespace

void TPackageInstallation::createDownloader()
{
    qRegisterMetaType<TPackageDifference>("orvik::launcher::TPackageDifference");
    // Each installation has its own connections, so one package's downloads never queue behind
    // another's; manual release makes the bound cover decoding and writing too.
    const std::shared_ptr<const TLauncherSettings> settings =
        m_pLauncherFilesystemHelper->settings();
    m_pDownloads =
        std::make_unique<TDownloadThread>([settings, helper = m_pLauncherFilesystemHelper] {
            auto manager = std::make_shared<::shared::QNetworkAccessManagerWrapper>(
                std::make_shared<QNetworkAccessManager>());
            auto pool = std::make_shared<::shared::TDownloadPool>(settings->maxConcurrentDownloads,
                                                                  manager, false);
            pool->setMaxDownloadRate(settings->maxDownloadRate);
            if (const qint64 stall = settings->stallTimeout; stall > 0)
                pool->setTransferTimeout(int(std::min<qint64>(stall, 24 * 3600) * 1000));
            return std::make_unique<TPackageFileDownloader>(pool, helper);
        });
    connect(&m_pDownloads->downloader(), &TPackageFileDownloader::downloadCompleted, this,
            &TPackageInstallation::onDownloadCompleted);
    connect(&m_pDownloads->downloader(), &TPackageFileDownloader::downloadFailed, this,
            &TPackageInstallation::onDownloadFailed);
    // Queued from the same thread as the failure that follows it, so it arrives first.
    connect(&m_pDownloads->downloader(), &TPackageFileDownloader::savingFailed, this,
            &TPackageInstallation::onSavingFailed);
    connect(&m_PlanningWatcher, &QFutureWatcherBase::finished, this, [this] {
        const std::shared_ptr<TPackageDifference> plan = m_PlanningWatcher.result();
        onRequiredChangesComputedForInstallation(std::move(*plan));
    });
}

void TPackageInstallation::onRequiredChangesComputedForInstallation(TPackageDifference Changes)
{
    m_SaveFailure = TSaveFailure();
    TDownloadRun download = Changes.m_PreparedDownload
                                ? std::move(*Changes.m_PreparedDownload)
                                : TDownloadRun::prepare(std::move(Changes.m_FilesToDownload));
    qInfo() << "onRequiredChangesComputedForInstallation"
            << " files to download: " << download.Files.size()
            << " files to delete: " << Changes.m_FilesToDelete.size() << threadSuffix;
    if (m_bStopRequested) {
        onDownloadFailed(EPackageDownloaderError::Stopped);
        return;
    }
    if (!Changes.m_ErrorMessage.isEmpty()) {
        // A plan that could not be made changes nothing on disk; the package stays partially
        // installed and the next attempt plans again.
        qCritical() << "Planning of" << m_pPackage->getName()
                    << "failed:" << Changes.m_ErrorMessage;
        onDownloadFailed(EPackageDownloaderError::DownloadFailed);
        return;
    }
    if (!download.Files.empty() && !enoughDiskSpace(Changes.m_DiskSpace)) {
        // Found now rather than when the disk runs full hours later: nothing has been deleted
        // or fetched, and the installed version stays as it is.
        onDownloadFailed(EPackageDownloaderError::SavingOperationFailed);
        return;
    }
    m_FilesToDelete = std::move(Changes.m_FilesToDelete);
    m_Download = std::move(download);
    startDownload();
}

bool TPackageInstallation::enoughDiskSpace(const TDiskSpaceNeed& Need) const
{
    if (!Need.Known) {
        qWarning() << "Disk space for" << m_pPackage->getName()
                   << "unknown: the file system could not be asked" << threadSuffix;
        return true;
    }
    const auto mebibytes = [](TFileSize bytes) {
        return QString::number(double(bytes) / 1048576.0, 'f', 1);
    };
    const QString sizes = QStringLiteral("needed %1 bytes (%2 MiB), free %3 bytes (%4 MiB) on %5")
                              .arg(Need.Needed)
                              .arg(mebibytes(Need.Needed))
                              .arg(Need.Available)
                              .arg(mebibytes(Need.Available))
                              .arg(QDir::toNativeSeparators(Need.FileSystemRoot));
    if (Need.fits()) {
        qInfo().noquote() << "Disk space for" << m_pPackage->getName() << sizes << threadSuffix;
        return true;
    }
    qCritical().noquote() << "Not enough free disk space for" << m_pPackage->getName() << sizes
                          << threadSuffix;
    return false;
}

void TPackageInstallation::startDownload()
{
    qInfo() << "startDownload: " << m_pPackage->getName() << threadSuffix;
    m_PlannedDownloadBytes = m_Download.TotalPacked;
    emit downloadPlanned(m_Download.TotalPacked, m_Download.TotalUnpacked);
    // On the downloads' thread, before its run: an update that removes thousands of files would
    // hold the window for as long. The downloader keeps what it needs of the run; held here too,
    // every file of a large package would be held twice until the end of the run.
    auto run = std::make_shared<TDownloadRun>(std::exchange(m_Download, {}));
    auto deleted =
        std::make_shared<std::vector<TFileInPackage>>(std::exchange(m_FilesToDelete, {}));
    m_pDownloads->post([this, run, deleted, directory = m_InstallationDirectory,
                        helper = m_pLauncherFilesystemHelper,
                        policy = m_pPolicy](TPackageFileDownloader& Downloader) {
        try {
            deleteFiles(*helper, directory, *policy, *deleted);
        } catch (const std::exception& error) {
            // Reported on the window's thread; the installation goes no further.
            QMetaObject::invokeMethod(
                this,
                [this, message = QString::fromUtf8(error.what())] {
                    emit diskAccessFailed(message);
                },
                Qt::QueuedConnection);
            return;
        }
        if (run->Files.empty())
            QMetaObject::invokeMethod(this, &TPackageInstallation::onDownloadCompleted,
                                      Qt::QueuedConnection);
        else
            Downloader.startDownload(directory, policy, std::move(*run));
    });
}

void TPackageInstallation::onDownloadCompleted()
{
    qInfo() << "onDownloadCompleted" << m_pPackage->getName() << threadSuffix;
    m_bWithoutError = true;
    m_ErrorReason = EPackageDownloaderError::NoError;
    emit downloadFinished(m_pPackage);
}

void TPackageInstallation::onDownloadFailed(EPackageDownloaderError ErrorReason)
{
    qInfo() << "onDownloadFailed" << m_pPackage->getName() << " " << int(ErrorReason)
            << threadSuffix;
    m_ErrorReason = ErrorReason;
    m_bWithoutError = false;
    emit downloadFinished(m_pPackage);
}

void TPackageInstallation::onSavingFailed(TSaveFailure Failure)
{
    m_SaveFailure = std::move(Failure);
}

QString TPackageInstallation::getFailureDetail() const
{
    if (!m_SaveFailure.isKnown())
        return {};
    return QStringLiteral("Could not write '%1': %2").arg(m_SaveFailure.Path, m_SaveFailure.Reason);
}

const TPackageFileDownloader& TPackageInstallation::getPackageFileDownloader() const
{
    return m_pDownloads->downloader();
}

} // namespace orvik::launcher
