#pragma once

#include "shared/platform/eventloopwatch.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

class QNetworkAccessManager;
class QSplashScreen;

namespace shared {
class QNetworkAccessManagerWrapper;
class TDownloadPool;
class TSingleInstanceGuard;
class TTerminationSignalWatcher;
} // namespace shared
namespace orvik::shared {
class TTranslationManager;
}
namespace systemsurvey {
class TSystemSurveyUploader;
}

namespace orvik::launcher {

class TInstallationManager;
class TLauncherConfigurationHandler;
class TLauncherFilesystemHelper;
class TCloudflareCdnTrace;
class TLauncherMainWindow;
class TLauncherSelfUpdater;
class TPackage;
class TProgressJsonPrinter;
class TRunningInstance;

// The application object: owns every long-lived component, runs the start-up sequence and
// decides what the launcher does once its configuration is in.
class TLauncherApplication : public QApplication
{
    // The texts of its boxes are its own, not the toolkit's.
    Q_DECLARE_TR_FUNCTIONS(orvik::launcher::TLauncherApplication)

public:
    TLauncherApplication(int& argc, char** argv);
    ~TLauncherApplication() override;

    // The one application of this process; null before construction and after destruction.
    static TLauncherApplication* instance();

    // Parses the command line, claims the single instance, opens the log and runs the event loop.
    // Returns the process's exit status.
    int run();

    const QString& accountGroup() const { return m_AccountGroup; }
    bool isFirstLaunch() const { return m_CommandLineParser.isSet(m_FirstLaunchOption); }
    bool isSelfUpdateSkipped() const { return m_CommandLineParser.isSet(m_SkipSelfUpdateOption); }
    bool isUiRequested() const { return m_CommandLineParser.isSet(m_ShowUiOption); }
    QString patchExecutable() const { return m_CommandLineParser.value(m_PatchOption); }

    // Starts the package's client detached and ends the launcher shortly after.
    void startPackageAndExit(const std::shared_ptr<TPackage>& Package);
    // Records a step of the player's first journey with the funnel service.
    void sendFunnelEvent(const QString& Step, const QString& FirstFlagKey);

    // What the player asked for in the main window.
    void onClientStartOrInstallTriggeredFromUI(const std::shared_ptr<TPackage>& Package);
    void onClientVerifyTriggeredFromUI(const std::shared_ptr<TPackage>& Package);
    void onDefaultChanged(const std::shared_ptr<TPackage>& Package, bool IsDefault);

    // Error boxes without a parent window; each ends the program with status 1. Their reason is
    // logged and written to the standard error first; without a display there is nobody to
    // close a box, so none is shown. A configuration that could not be had is the service's
    // maintenance when the service answered, and the player's connection when it could not be
    // reached.
    void showMaintenanceMessageAndExit();
    void showCriticalFileErrorAndExit(const QString& message);

    // Whether windows would be invisible: the launcher runs without a display.
    static bool isHeadless();

private:
    void installTranslation();
    void watchTerminationSignals();
    void addCommandLineOptions();
    void startProgressJson();
    int finish(int Status);
    // A later start while this launcher runs: its status once it handed its command line over.
    int handOverToRunningLauncher();
    // This launcher's answer to a later start's command line.
    QString onLaterStart(const QStringList& Arguments);
    // Why the settings cannot lead to a configuration; empty when they can.
    QString settingsProblem() const;
    void endWithMessage(QMessageBox::Icon Icon, const QString& Title, const QString& Text);
    void onStartupTimerTimeout();
    void onExitTimerTimeout();
    void showSplashScreen(const QString& imagePath);
    void hideSplashScreen();
    void connectConfigurationHandler();
    void onMainConfigurationLoaded();
    void startSystemSurvey();
    void maintainExecutableLink();
    void connectSelfUpdater();
    void onPackageConfigurationDownloadsFinished();
    bool startSelfUpdate();
    void cleanupOldLauncherVersion();
    void restartAfterSelfUpdate();
    void onLauncherReadyForAction();
    // The run modes, one each: what the player asked for on the command line decides.
    void createInstallationManager();
    void installAutomaticPackages();
    void installPatchOrForcedUpdates(std::vector<std::shared_ptr<TPackage>> Updates);
    void startDefaultClientOrShowWindow();
    void onAllStartedUpdatesFinished();
    std::vector<std::shared_ptr<TPackage>> takeForcedUpdates();
    void showMainWindow();
    // For a start-up that would leave the player with nothing to act on otherwise: the main
    // window, or without a display an error and status 1, never an invisible process.
    void showMainWindowOrFail(const QString& Reason);
    void finishAtOnceWhenNothingStarted();
    // Runs a step of the start-up decisions; whatever it throws ends in the critical box instead
    // of unwinding into the event loop.
    template <typename TStep> void runGuarded(TStep&& Step);

    std::shared_ptr<QNetworkAccessManager> m_pNetworkAccessManager;
    std::shared_ptr<::shared::QNetworkAccessManagerWrapper> m_pNetworkAccessManagerWrapper;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    std::shared_ptr<orvik::shared::TTranslationManager> m_pTranslationManager;
    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TCloudflareCdnTrace> m_pCdnTrace;
    TLauncherConfigurationHandler* m_pConfigurationHandler = nullptr;
    TLauncherSelfUpdater* m_pSelfUpdater = nullptr;
    TInstallationManager* m_pInstallationManager = nullptr;
    systemsurvey::TSystemSurveyUploader* m_pSystemSurveyUploader = nullptr;
    // The package named by --patch, once looked up.
    std::shared_ptr<TPackage> m_pPatchPackage;
    TLauncherMainWindow* m_pMainWindow = nullptr;
    QSplashScreen* m_pSplashScreen = nullptr;
    QCommandLineParser m_CommandLineParser;
    QCommandLineOption m_FirstLaunchOption;
    QCommandLineOption m_SkipSelfUpdateOption;
    QCommandLineOption m_ShowUiOption;
    QCommandLineOption m_PatchOption;
    QCommandLineOption m_ProgressJsonOption;
    QTimer m_StartupTimer;
    QTimer m_ExitTimer;
    ::shared::TEventLoopWatch m_EventLoopWatch;
    // Set once an error box has ended the program: later failures add nothing but more boxes.
    bool m_bExiting = false;
    QString m_AccountGroup;
    QString m_FunnelIdentifierKey;
    std::unique_ptr<::shared::TSingleInstanceGuard> m_pSingleInstanceGuard;
    TRunningInstance* m_pRunningInstance = nullptr;
    std::unique_ptr<::shared::TTerminationSignalWatcher> m_pTerminationSignalWatcher;
    // Only with --progress-json.
    std::unique_ptr<TProgressJsonPrinter> m_pProgressJsonPrinter;
};

} // namespace orvik::launcher
