#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/installationpolicy.h"
#include "launcher/package/package.h"

#include <QDir>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

class QFutureWatcherBase;

namespace orvik::launcher {

class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TPackageInstallation;

// Owns what happens to installed packages on disk: where each lives, the markers that record how
// far an installation got, every package's local status, the default client and the
// installations in progress. Lives on the GUI thread.
class TInstallationManager : public QObject
{
    Q_OBJECT

public:
    TInstallationManager(
        std::shared_ptr<TLauncherConfigurationReader> pLauncherConfigurationReader,
        std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper,
        std::shared_ptr<const TInstallationPolicy> pPolicy = gameInstallationPolicy());
    ~TInstallationManager() override;

    ELocalPackageStatus computeLocalPackageStatus(const TPackage& Package);
    QDir getInstallationDirectory(const TPackage& Package);
    // (partial marker path, full marker path)
    std::pair<QString, QString> getInstallationMarkerPaths(const QDir& Directory) const;
    TPackageConfigurationReader
    readPackageConfigurationFromInstallationDirectory(const QDir& Directory);

    void installOrUpdatePackage(const std::shared_ptr<TPackage>& Package);
    // Records durably that the package needs a repair before it is started again: a complete
    // installation becomes a partial one.
    void recordRepairRequest(TPackage& Package);
    void verifyPackage(const std::shared_ptr<TPackage>& Package);
    // Pauses or cancels the package's running installation, if it has one; it then ends with
    // the reason Stopped and keeps what it wrote, so that the next run goes on from there. A pause
    // is remembered across restarts until the package's next installation starts.
    void pauseInstallation(const TPackage& Package);
    void cancelInstallation(const TPackage& Package);
    bool isPaused(const TPackage& Package) const;
    // The player's download speed limit in bytes per second (0: none), for the installations
    // running now and those to come; until it is set, the settings' limit holds.
    void setMaxDownloadRate(qint64 BytesPerSecond);
    std::optional<qint64> maxDownloadRate() const { return m_MaxDownloadRate; }

    // Null clears the default.
    void setDefaultPackage(const std::shared_ptr<TPackage>& Package);
    std::shared_ptr<TPackage> getDefaultPackage() const;
    std::shared_ptr<TPackage> findPackageByExecutablePath(const QString& Path);
    QString getExecutablePath(const TPackage& Package);

    const std::vector<std::shared_ptr<TPackageInstallation>>& getInstallationsInProgress() const
    {
        return m_InstallationsInProgress;
    }

signals:
    void installationOrUpdateStarted(orvik::launcher::TPackageInstallation* InstallationInProgress);
    void
    installationOrUpdateFinished(orvik::launcher::TPackageInstallation* InstallationInProgress);
    void allStartedUpdatesFinished();
    void diskAccessFailed(QString ErrorMessage);

public slots:
    void onDiskAccessFailed(QString ErrorMessage);
    void onDownloadFinished(std::shared_ptr<orvik::launcher::TPackage> PackageBeingInstalled);
    void onVerificationFinished(std::shared_ptr<orvik::launcher::TPackage> PackageBeingInstalled);

private:
    void refreshStatusAndFindDefault();
    // Without bChangesFiles (a verification that only reads) the markers are left as they are.
    std::shared_ptr<TPackageInstallation>
    createInstallation(const std::shared_ptr<TPackage>& Package,
                       TPackageConfigurationReader& Installed, bool bChangesFiles = true);
    // Goes on from a verification that found damage to the repair of those files.
    void repair(const std::shared_ptr<TPackageInstallation>& Installation, TPackage& Package);
    // What the markers are written from, taken from the package's reader on this thread: the
    // writing may run on the thread pool while the reader stays here.
    struct TMarkerDocuments
    {
        bool Released = false; // the reader let go of the bytes; they are read from the disk
        QByteArray PackageData;
        QByteArray PackageDigest;
        QByteArray PackageSignature;
        bool HasAssets = false;
        QByteArray AssetData;
        QByteArray AssetDigest;
        QByteArray AssetSignature;
    };
    static TMarkerDocuments markerDocumentsOf(const TPackageConfigurationReader& Remote);

    void markPackageAsPartiallyInstalled(TPackage& Package, TPackageConfigurationReader& Remote);
    // After a download: the partial marker holds the new documents. Any thread.
    void writePartialMarker(const QDir& Directory, const TMarkerDocuments& Documents) const;
    // Every listed file, its mode and its name on the disk, not only in the system's cache: what
    // the full marker calls complete must survive a power cut. Any thread.
    void makeFilesDurable(const QDir& Directory, const TFileInPackageVector& Files) const;
    // After a verification: the full marker holds them and the partial one is gone. Any thread.
    void writeFullMarker(const QDir& Directory, const TMarkerDocuments& Documents) const;
    // Runs Write on the thread pool, then Then on this thread with the failure's message (empty
    // when it succeeded).
    void writeMarkerOffThread(std::function<void()> Write,
                              std::function<void(const QString& Error)> Then);
    void startVerificationAfterDownload(const std::shared_ptr<TPackageInstallation>& Installation,
                                        const TPackage& Package, const QDir& Directory);
    void endVerification(const std::shared_ptr<TPackageInstallation>& Installation,
                         const std::shared_ptr<TPackage>& Package);
    void moveFullMarkerToPartial(const QDir& Directory) const;
    void writeAssetsDocument(const QDir& Directory, const TMarkerDocuments& Documents) const;
    // The remote package document, from the reader's bytes or, once released, from the file of
    // the installation that holds them.
    void writePackageDocument(const QString& Path, const TMarkerDocuments& Documents,
                              const QDir& Directory) const;
    // Lets the reader drop the document bytes, keeping a copy in the installation when the
    // partial marker does not hold them: a document of many files is large.
    void stageRemoteDocuments(const TPackage& Package, TPackageConfigurationReader& Remote,
                              const QDir& Directory);
    void unstageRemoteDocuments(const QDir& Directory);
    // A local copy of a document and, when it came signed, its signature beside it.
    void writeDocument(const QString& Path, const QByteArray& Document,
                       const QByteArray& Signature) const;
    // The same from the first of Candidates that holds the document of this digest.
    void writeDocumentFrom(const QString& Path, const QStringList& Candidates,
                           const QByteArray& Digest, const QByteArray& Signature) const;
    void writeSignature(const QString& DocumentPath, const QByteArray& Signature) const;
    std::shared_ptr<TPackageInstallation> findInstallation(const QString& Name) const;
    // Counts the installation as in progress from now on.
    void track(const std::shared_ptr<TPackageInstallation>& Installation);
    void finishInstallation(const std::shared_ptr<TPackageInstallation>& Installation);
    QString packagesDirectory();
    static void sendFunnelEvent(const QString& Step, const QString& FirstFlagKey);
    static void rememberPause(const QString& PackageName, bool Paused);

    std::shared_ptr<TLauncherConfigurationReader> m_pLauncherConfigurationReader;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    std::vector<std::shared_ptr<TPackageInstallation>> m_InstallationsInProgress;
    std::shared_ptr<const TInstallationPolicy> m_pPolicy;
    std::optional<qint64> m_MaxDownloadRate;
    // Documents staged by this run, removed when it ends.
    std::set<QString> m_StagedDocuments;
    // Marker writes on the thread pool; waited for when the manager goes.
    std::set<QFutureWatcherBase*> m_MarkerWrites;
};

} // namespace orvik::launcher
