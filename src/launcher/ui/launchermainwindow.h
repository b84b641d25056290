#pragma once

#include "launcher/package/package.h"
#include "launcher/ui/draggablemainwindow.h"
#include "shared/randomhints/randomhints.h"

#include <QString>

#include <array>
#include <map>
#include <memory>
#include <vector>

class QGroupBox;
class QHBoxLayout;
class QMessageBox;
class QSpacerItem;
class QVBoxLayout;
class QWidget;

namespace shared {
class TDownloadPool;
}

namespace orvik::launcher {

class ClickableLabel;
class TClientPackageLayoutItem;
class TCloudflareCdnTrace;
class THintArea;
class TInstallationManager;
class TLauncherConfigurationReader;
class TPackageInstallation;

// The launcher's only window, made when the player has to act: one tile per package for this
// machine, the hint area, the links and the version. Turns clicks into signals and shows how
// installations ended.
class TLauncherMainWindow : public TDraggableMainWindow
{
    Q_OBJECT

public:
    static constexpr int kTilesPerRow = 4;
    static constexpr int kWidth = 800;
    static constexpr int kMinimumHeight = 450;
    static constexpr int kMaximumHeight = 600;

    // Hints come later through setHints; the pool fetches their document and images.
    TLauncherMainWindow(std::shared_ptr<TLauncherConfigurationReader> pConfiguration,
                        std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                        TInstallationManager* pInstallationManager,
                        std::shared_ptr<TCloudflareCdnTrace> pCdnTrace = nullptr);
    ~TLauncherMainWindow() override;

    const std::map<qint32, TClientPackageLayoutItem*>& tiles() const { return m_Tiles; }
    qint32 defaultPackageIndex() const { return m_DefaultPackageIndex; }
    // The box for "Connection problem" and "Download failed"; hidden until one is shown.
    QMessageBox* messageBox() const { return m_pMessageBox; }
    THintArea* hintArea() const { return m_pHintArea; }
    QGroupBox* hintGroupBox() const { return m_pHintGroupBox; }
    // Whether the stretch below the tiles is still there: hints in all three slots take it.
    bool hasSpacer() const { return m_pSpacer != nullptr; }
    ClickableLabel* aboutLabel() const { return m_pAboutLabel; }

signals:
    void defaultChanged(std::shared_ptr<orvik::launcher::TPackage> pPackage, bool IsDefault);
    void clientPackageButtonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);
    // The player set a download speed limit in bytes per second (0: none), to be kept.
    void maxDownloadRateChosen(qint64 BytesPerSecond);
    void clientPackageVerifyButtonClicked(std::shared_ptr<orvik::launcher::TPackage> pPackage);

public slots:
    void setHint(const ::shared::THint& Hint);
    void setHints(std::vector<::shared::THint> Hints);
    void onDefaultClientPackageCheckboxChanged(std::shared_ptr<orvik::launcher::TPackage> pPackage,
                                               bool IsDefault);
    void setDefault(std::shared_ptr<orvik::launcher::TPackage> pPackage, bool IsDefault);
    void onInstallationOrUpdateStarted(orvik::launcher::TPackageInstallation* pInstallation);
    void onInstallationOrUpdateFinished(orvik::launcher::TPackageInstallation* pInstallation);
    void onAboutDialogRequested(QString Link);

protected:
    bool event(QEvent* pEvent) override;

private:
    void setUpWindow();
    void fitToContent();
    QHBoxLayout* makeTileRow(const std::vector<std::shared_ptr<TPackage>>& Packages);
    QHBoxLayout* makeFooterRow();
    QHBoxLayout* makeSocialRow();
    void addHintGroupBox();
    void showConnectionProblem();
    void showDownloadFailed(const QString& PackageName);
    QString downloadFailedText(const QString& PackageName) const;
    void showInstallationFailed(const QString& Text);
    // The end of a Verify: intact, or repaired with what that took.
    void showVerified(const TPackageInstallation& Installation);
    static QString verificationFailedText(const QString& PackageName,
                                          const QStringList& DamagedFiles);
    void closeEvent(QCloseEvent* pEvent) override;
    void askForSpeedLimit();
    void refreshInstallEstimate(TClientPackageLayoutItem& Tile);
    void onTileButtonClicked(std::shared_ptr<TPackage> pPackage);
    void notifyWhenAway(const TPackageInstallation& Installation);
    void updateTabOrder();
    // Tiles in index order get the choice; no signal.
    void recordDefault(const std::shared_ptr<TPackage>& pPackage, bool IsDefault);

    std::shared_ptr<TLauncherConfigurationReader> m_pConfiguration;
    std::map<qint32, TClientPackageLayoutItem*> m_Tiles;
    QSpacerItem* m_pSpacer = nullptr;
    QVBoxLayout* m_pMainLayout = nullptr;
    THintArea* m_pHintArea = nullptr;
    QGroupBox* m_pHintGroupBox = nullptr;
    QMessageBox* m_pMessageBox = nullptr;
    ClickableLabel* m_pAboutLabel = nullptr;
    ClickableLabel* m_pMakerLink = nullptr;
    std::array<ClickableLabel*, 2> m_pSocialLinks{};
    qint32 m_DefaultPackageIndex = -1;
    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    TInstallationManager* m_pInstallationManager = nullptr;
    bool m_bCloseConfirmed = false;
    std::shared_ptr<TCloudflareCdnTrace> m_pCdnTrace;
    QMetaObject::Connection m_TraceConnection;
};

} // namespace orvik::launcher
