#pragma once

#include "launcher/package/package.h"
#include "shared/filesystemhelper/filesize.h"

#include <QMetaObject>
#include <QVBoxLayout>

#include <memory>
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
    QLabel* logoLabel() const { return m_pLogoLabel; }

    // The logo for the package's kind, "_disabled" unless it is installed.
    QString logoImagePath() const;

signals:
    void defaultChanged(std::shared_ptr<orvik::launcher::TPackage> pPackage, bool IsDefault);
    void buttonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);
    void verifyButtonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);

public slots:
    void onInstallationOrUpdateStarted(orvik::launcher::TPackageInstallation* pInstallation);
    void onInstallationOrUpdateFinished(orvik::launcher::TPackageInstallation* pInstallation);
    void onLocalPackageStatusChanged();
    void updatePackageNameAndVersion();
    void updatePackageImageFromPackageStatus();
    void updateButtonFromPackageStatus();
    void updateDefaultClientCheckboxFromPackageStatus();

    // A phase of the installation: done of total bytes.
    void onScanProgress(TFileSize Done, TFileSize Total);
    void onWriteProgress(TFileSize Done, TFileSize Total);
    void onVerificationProgress(TFileSize Done, TFileSize Total);
    void onDownloadProgress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload,
                            TFileSize BytesWritten, TFileSize BytesTotalToWrite);

private:
    QGroupBox* makeGroupBox();
    void showPhase(const QString& Phase, const QString& Text, TFileSize Done, TFileSize Total);
    void disconnectInstallation();

    std::shared_ptr<TPackage> m_pPackage;
    QCheckBox* m_pDefaultClientCheckbox = nullptr;
    QLabel* m_pLogoLabel = nullptr;
    QLabel* m_pNameLabel = nullptr; // only when the configuration shows package names
    QLabel* m_pVersionLabel = nullptr;
    QContextPushButton* m_pButton = nullptr;
    QProgressBar* m_pProgressBar = nullptr;
    const TPackageFileDownloader* m_pDownloader = nullptr; // of the running installation
    std::vector<QMetaObject::Connection> m_InstallationConnections;
    QString m_CurrentPhase;
};

} // namespace orvik::launcher
