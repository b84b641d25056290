#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/download/downloadthread.h"
#include "launcher/download/filetodownload.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/filesystem/installationpolicy.h"
#include "launcher/installation/packagedifference.h"
#include "launcher/package/package.h"

#include <QDir>
#include <QFutureWatcher>
#include <QObject>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>
#include <vector>

namespace orvik::launcher {

class TLauncherFilesystemHelper;

// What a verification found: whether every file is there as listed, and which are not (paths as
// the document writes them, sorted).
struct TVerificationOutcome
{
    bool Passed = false;
    QStringList DamagedFiles;
};

// One run of installing, updating, repairing or verifying one package. Planning and verification
// run on the global thread pool and read only what they are given; the plan's deletions and its
// download run on the downloads' thread. Progress reaches the GUI thread through queued signals.
class TPackageInstallation : public QObject
{
    Q_OBJECT

public:
    static constexpr int PlanningWorkerCount = 6;
    static constexpr int VerificationWorkerCount = 6;

    TPackageInstallation(std::shared_ptr<TPackage> pPackage,
                         std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    // Waits for a running verification after asking it to stop: it reports through this object.
    ~TPackageInstallation() override;

    void setInstallationDirectory(const QDir& Directory) { m_InstallationDirectory = Directory; }
    // Planning first removes what killed runs left (see leftovers.h); off by default.
    void setRemovesLeftOvers(bool bRemoves) { m_bRemovesLeftOvers = bRemoves; }
    const QDir& getInstallationDirectory() const { return m_InstallationDirectory; }
    // How files are put in place and removed; the game's way unless set.
    void setPolicy(std::shared_ptr<const TInstallationPolicy> pPolicy)
    {
        m_pPolicy = std::move(pPolicy);
    }
    void setInstalledVersionLabel(const QString& Label) { m_InstalledVersionLabel = Label; }
    void setRemoteVersionLabel(const QString& Label) { m_RemoteVersionLabel = Label; }
    const std::shared_ptr<TPackage>& getPackage() const { return m_pPackage; }
    // For the progress display's connections only: it lives on a thread of its own.
    const TPackageFileDownloader& getPackageFileDownloader() const;
    bool isWithoutError() const { return m_bWithoutError; }
    // Pauses or cancels the run: it ends as soon as its work on the thread pool is back and
    // reports Stopped; what was written stays, and the next run goes on from there.
    void stop();
    // The player's speed limit in bytes per second, over the settings' one; 0 for none.
    void setMaxDownloadRate(qint64 BytesPerSecond)
    {
        m_pDownloads->setMaxDownloadRate(BytesPerSecond);
    }
    // Other places that serve the same bodies, tried when one fails.
    void setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors)
    {
        m_pDownloads->setMirrors(std::move(pMirrors));
    }
    // Whether this run only read the installed files again, with nothing planned or fetched.
    bool isVerificationOnly() const { return !m_bPlanningStarted; }
    EPackageDownloaderError getErrorReason() const { return m_ErrorReason; }
    // With SavingOperationFailed: the file that could not be written and why, when known.
    const TSaveFailure& getSaveFailure() const { return m_SaveFailure; }
    // The same for the log and for scripts, "Could not write 'data/x.bin': Is a directory";
    // empty when unknown.
    QString getFailureDetail() const;

    // Planning, on a pool thread: which installed files the remote configuration no longer lists,
    // and which wanted files need data after reusing what is on disk. Files on disk that neither
    // configuration lists are never touched. Never throws: a failure is the result's message.
    TPackageDifference computeRequiredChanges(QDir InstallationDirectory,
                                              std::shared_ptr<TLauncherFilesystemHelper> pHelper,
                                              TPackageConfigurationReader Remote,
                                              TPackageConfigurationReader Installed, bool FastScan);
    // The parallel scan: the files that need data, largest files planned first. Throws
    // std::runtime_error when a document is unusable.
    std::vector<TFileToDownload> FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
        const TFileInPackageVector& RemoteFiles, const TChunkInPackageVector& RemoteChunks,
        const TFileInPackageVector& InstalledFiles, const TChunkInPackageVector& InstalledChunks,
        bool FastScan, const QDir& InstallationDirectory,
        const std::shared_ptr<TLauncherFilesystemHelper>& pHelper);

    // Plans on the thread pool, then deletes what must go and downloads what is missing.
    void startPlanning(const TPackageConfigurationReader& Remote,
                       TPackageConfigurationReader Installed, bool FastScan);

    // Proves every file of the configuration is on disk with its digest. Without Force, the
    // skipVerification setting passes it at once. GUI thread.
    void startVerification(const TPackageConfigurationReader& Configuration, bool Force);
    // On a pool thread; passed when every file is present and matches. Reads every file, also
    // after one was found damaged.
    TVerificationOutcome VerifyPackage(QDir Directory,
                                       std::shared_ptr<TLauncherFilesystemHelper> pHelper,
                                       const TFileInPackageVector& Files);
    // The files the last verification found missing or different.
    const QStringList& getDamagedFiles() const { return m_DamagedFiles; }

    // Repairs what a verification of this run found damaged: plans only those files, each read
    // again so that the pieces it still holds are kept, then fetches the rest; the run then goes
    // on as an update does. GUI thread.
    void startRepair(const TPackageConfigurationReader& Remote);
    bool isRepair() const { return !m_RepairedFiles.isEmpty(); }
    const QStringList& getRepairedFiles() const { return m_RepairedFiles; }
    // What the download of this run was planned to fetch, packed.
    TFileSize getPlannedDownloadBytes() const { return m_PlannedDownloadBytes; }

signals:
    void scanProgress(TFileSize BytesDownloaded, TFileSize BytesTotal);
    // The plan is made: what travels (packed, each piece once) and what is written (unpacked).
    void downloadPlanned(TFileSize BytesToDownload, TFileSize BytesToWrite);
    void writeProgress(TFileSize BytesDownloaded, TFileSize BytesTotal);
    void verificationProgress(TFileSize BytesDownloaded, TFileSize BytesTotal);
    void downloadFinished(std::shared_ptr<orvik::launcher::TPackage> PackageBeingInstalled);
    void verificationFinished(std::shared_ptr<orvik::launcher::TPackage> PackageBeingInstalled);
    void diskAccessFailed(QString Message);

public slots:
    void onDownloadCompleted();
    void onDownloadFailed(orvik::launcher::EPackageDownloaderError ErrorReason);
    void onSavingFailed(orvik::launcher::TSaveFailure Failure);
    void onRequiredChangesComputedForInstallation(orvik::launcher::TPackageDifference Changes);
    void onVerifyFinished(bool Result);

private:
    void createDownloader();
    // Hands the plan's deletions and then its download to the downloads' thread.
    void startDownload();
    // Logs the needed and the free size; false when the plan cannot fit.
    bool enoughDiskSpace(const TDiskSpaceNeed& Need) const;

    std::shared_ptr<TPackage> m_pPackage;
    std::unique_ptr<TDownloadThread> m_pDownloads;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    bool m_bWithoutError = false;
    bool m_bRemovesLeftOvers = false;
    EPackageDownloaderError m_ErrorReason = EPackageDownloaderError::NoError;
    TSaveFailure m_SaveFailure;
    std::shared_ptr<const TInstallationPolicy> m_pPolicy = gameInstallationPolicy();
    QString m_InstalledVersionLabel;
    QString m_RemoteVersionLabel;
    QDir m_InstallationDirectory;
    std::vector<TFileInPackage> m_FilesToDelete;
    TDownloadRun m_Download;

    // The plan is held by pointer and moved out: a future keeps its result as long as it lives,
    // and a plan holds a record per file to fetch.
    QFutureWatcher<std::shared_ptr<TPackageDifference>> m_PlanningWatcher;
    QFutureWatcher<TVerificationOutcome> m_VerificationWatcher;
    QStringList m_DamagedFiles;
    QStringList m_RepairedFiles;
    TFileSize m_PlannedDownloadBytes = 0;
    // Set when the installation goes away: running planning workers stop after their current
    // file, verification workers after their current piece.
    std::atomic<bool> m_bStopRequested{false};
    bool m_bPlanningStarted = false;
};

} // namespace orvik::launcher

Q_DECLARE_METATYPE(std::shared_ptr<orvik::launcher::TPackage>)
