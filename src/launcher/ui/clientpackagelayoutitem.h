#pragma once

#include "launcher/installation/diskspace.h"
#include "launcher/package/package.h"
#include "launcher/ui/transferestimate.h"
#include "shared/filesystemhelper/filesize.h"

#include <QElapsedTimer>
#include <QMetaObject>
#include <QVBoxLayout>

#include <memory>
#include <optional>
#include <vector>

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;

namespace orvik::launcher {

class QContextPushButton;
class TPackageFileDownloader;
class TPackageInstallation;

// One package's tile: its logo, the action button that follows the local status, the progress
// bar that stands in for the button while an installation runs, name, version and progress
// texts, and the "Default Client" check box. Turns clicks into signals; never starts work.
class TClientPackageLayoutItem : public QVBoxLayout
{
    Q_OBJECT

public:
    TClientPackageLayoutItem(std::shared_ptr<TPackage> pPackage, bool ShowPackageName);

    const std::shared_ptr<TPackage>& package() const { return m_pPackage; }
    QCheckBox* defaultClientCheckbox() const { return m_pDefaultClientCheckbox; }
    QContextPushButton* button() const { return m_pButton; }
    QProgressBar* progressBar() const { return m_pProgressBar; }
    QLabel* versionLabel() const { return m_pVersionLabel; }
    // Speed and time left while a download runs, in the place of the check box.
    QLabel* detailLabel() const { return m_pDetailLabel; }
    QLabel* logoLabel() const { return m_pLogoLabel; }

    // What an install would fetch and write, and the room for it: told on the button before the
    // player commits.
    void setInstallEstimate(const TInstallEstimate& Estimate);
    // A pause from an earlier run: the button offers to resume.
    void setPaused(bool Paused);

    // The logo for the package's kind, "_disabled" unless it is installed.
    QString logoImagePath() const;

signals:
    void defaultChanged(std::shared_ptr<orvik::launcher::TPackage> pPackage, bool IsDefault);
    void buttonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);
    void verifyButtonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);
    // From the running installation's context menu: Pause keeps it to be resumed, Cancel ends it.
    void stopRequested(std::shared_ptr<orvik::launcher::TPackage> pPackage, bool Pause);
    void speedLimitRequested();

public slots:
    void onInstallationOrUpdateStarted(orvik::launcher::TPackageInstallation* pInstallation);
    void onInstallationOrUpdateFinished(orvik::launcher::TPackageInstallation* pInstallation);
    void onLocalPackageStatusChanged();
    void updatePackageNameAndVersion();
    void updatePackageImageFromPackageStatus();
    void updateButtonFromPackageStatus();
    void updateDefaultClientCheckboxFromPackageStatus();

    // A phase of the installation: done of total bytes. A download reports what was fetched and
    // written of the installation as a whole; Seconds is when (tests pass their own clock).
    void onScanProgress(TFileSize Done, TFileSize Total);
    void onWriteProgress(TFileSize Done, TFileSize Total);
    void onVerificationProgress(TFileSize Done, TFileSize Total);
    void onDownloadProgress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                            TFileSize BytesWritten, TFileSize BytesTotalToWrite);
    void showDownloadProgress(double Seconds, TFileSize BytesDownloaded,
                              TFileSize BytesTotalToDownload, TFileSize BytesWritten,
                              TFileSize BytesTotalToWrite);

private:
    QGroupBox* makeGroupBox();
    void showPhase(const QString& Phase, const QString& Text, TFileSize Done, TFileSize Total);
    void logPhase(const QString& Phase);
    void showDetail(const QString& Text);
    void disconnectInstallation();

    std::shared_ptr<TPackage> m_pPackage;
    QCheckBox* m_pDefaultClientCheckbox = nullptr;
    QLabel* m_pLogoLabel = nullptr;
    QLabel* m_pNameLabel = nullptr; // only when the configuration shows package names
    QLabel* m_pVersionLabel = nullptr;
    QLabel* m_pDetailLabel = nullptr;
    QContextPushButton* m_pButton = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    const TPackageFileDownloader* m_pDownloader = nullptr; // of the running installation
    std::vector<QMetaObject::Connection> m_InstallationConnections;
    QString m_CurrentPhase;
    // Paused by the player: the button offers to resume.
    bool m_bPaused = false;
    std::optional<TInstallEstimate> m_InstallEstimate;
    TTransferEstimate m_Estimate;
    QElapsedTimer m_Clock;
};

} // namespace orvik::launcher
