#include "launcher/startup/launcherapplication.h"
#include "launcher/ui/launchermainwindow.h"

#include "launcher/cdntrace/cloudflarecdntrace.h"
#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/progress/linewriter.h"
#include "launcher/progress/progressjsonprinter.h"
#include "launcher/selfupdate/launcherselfupdater.h"
#include "launcher/startup/accountgroup.h"
#include "launcher/startup/runninginstance.h"
#include "launcher/telemetry/funnelevents.h"
#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/platform/terminationsignalwatcher.h"
#include "shared/singleinstance/singleinstanceguard.h"
#include "shared/translation/translationmanager.h"
#include "systemsurvey/systemsurveyuploader.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QMessageBox>
#include <QNetworkAccessManager>
#include <QNetworkProxyFactory>
#include <QPixmap>
#include <QSplashScreen>

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace orvik::launcher {

namespace {

TLauncherApplication* g_pApplication = nullptr;

// Few and small documents go through the launcher-wide pool; package data has pools of its own.
constexpr int kLauncherWideMaxConcurrentDownloads = 6;

// How long an ending launcher lets funnel events already posted arrive.
constexpr int kFunnelEventGraceMs = 1000;
// How long a later start waits for the running launcher's answer: it is on that launcher's event
// loop, which a busy moment may hold for a while.
constexpr int kHandOverTimeoutMs = 5000;

} // namespace

TLauncherApplication::TLauncherApplication(int& argc, char** argv)
    : QApplication(argc, argv)
    , m_FirstLaunchOption(
          {QStringLiteral("l"), QStringLiteral("first-launch")},
          QStringLiteral("Automatically download default packages when starting up."))
    , m_SkipSelfUpdateOption({QStringLiteral("s"), QStringLiteral("skip-selfupdate")},
                             QStringLiteral("Do not perform self-update check on launch."))
    , m_ShowUiOption({QStringLiteral("u"), QStringLiteral("show-ui")},
                     QStringLiteral("Show list of available packages after intial checks."))
    , m_PatchOption({QStringLiteral("p"), QStringLiteral("patch")},
                    QStringLiteral("Start update of <patchexecutable> without user interaction."),
                    QStringLiteral("patchexecutable"))
    , m_ProgressJsonOption(QStringLiteral("progress-json"),
                           QStringLiteral("Print the progress on standard output, one JSON object "
                                          "per line."))
    , m_FunnelIdentifierKey(constants::kFunnelIdentifierKey)
{
    // Players behind a proxy set it once for their desktop (http_proxy, https_proxy, no_proxy).
    // Debian's Qt follows those by default, but a Qt configured without system proxies does not:
    // the launcher asks for them itself. The factory is process-wide, so every network access
    // manager follows it: the launcher's own, each installation's, the hints' and telemetry's.
    QNetworkProxyFactory::setUseSystemConfiguration(true);
    m_pNetworkAccessManager = std::make_shared<QNetworkAccessManager>();
    m_pNetworkAccessManagerWrapper =
        std::make_shared<::shared::QNetworkAccessManagerWrapper>(m_pNetworkAccessManager);
    m_pDownloadPool = std::make_shared<::shared::TDownloadPool>(
        kLauncherWideMaxConcurrentDownloads, m_pNetworkAccessManagerWrapper, true);
    m_pLauncherFilesystemHelper = std::make_shared<TLauncherFilesystemHelper>();
    m_pTranslationManager = std::make_shared<orvik::shared::TTranslationManager>();
    m_pCdnTrace = std::make_shared<TCloudflareCdnTrace>(
        m_pLauncherFilesystemHelper->settings()->cdnDiagnosticsTrace, m_pDownloadPool);
    m_pConfigurationHandler =
        new TLauncherConfigurationHandler(m_pDownloadPool, m_pLauncherFilesystemHelper);
    m_pSelfUpdater = new TLauncherSelfUpdater(m_pLauncherFilesystemHelper);

    addCommandLineOptions();

    g_pApplication = this;
    installTranslation();

    setApplicationName(constants::kApplicationName);
    setApplicationDisplayName(constants::kApplicationName);
    setOrganizationName(constants::kOrganizationName);
    setOrganizationDomain(constants::kOrganizationDomain);
    // Lets the desktop match the window to the installed desktop entry and its icon. On X11 the
    // window class is the application name, which the entry names as its StartupWMClass.
    setDesktopFileName(constants::kDesktopFileName);
    // The installed icon where the desktop has one, else the copy built in: a bundle that was
    // never added to the menu still shows its own icon in the task bar.
    QIcon builtIn;
    for (const int size : {32, 64, 256})
        builtIn.addFile(QStringLiteral(":/icons/hicolor/%1x%1/apps/%2.png")
                            .arg(size)
                            .arg(constants::kDesktopFileName));
    setWindowIcon(QIcon::fromTheme(constants::kDesktopFileName, builtIn));

    const auto settings = m_pLauncherFilesystemHelper->settings();
    m_StartupTimer.setSingleShot(true);
    m_StartupTimer.setInterval(static_cast<int>(settings->waitNotificationTimeout));
    QObject::connect(&m_StartupTimer, &QTimer::timeout, this, [this] { onStartupTimerTimeout(); });

    m_AccountGroup = readAccountGroup(*m_pLauncherFilesystemHelper);

    m_ExitTimer.setInterval(200);
    QObject::connect(&m_ExitTimer, &QTimer::timeout, this, [this] { onExitTimerTimeout(); });

    connectConfigurationHandler();
    connectSelfUpdater();
    QObject::connect(this, &QCoreApplication::aboutToQuit, this,
                     [] { waitForFunnelEventsInFlight(kFunnelEventGraceMs); });
}

TLauncherApplication::~TLauncherApplication()
{
    delete m_pMainWindow;
    delete m_pInstallationManager;
    delete m_pSelfUpdater;
    delete m_pSystemSurveyUploader;
    delete m_pConfigurationHandler;
    delete m_pSplashScreen;
    if (g_pApplication == this)
        g_pApplication = nullptr;
}

TLauncherApplication* TLauncherApplication::instance()
{
    return g_pApplication;
}

int TLauncherApplication::run()
{
    m_CommandLineParser.parse(QCoreApplication::arguments());
    startProgressJson();

    m_pSingleInstanceGuard =
        std::make_unique<::shared::TSingleInstanceGuard>(constants::kSingleInstanceKey);
    switch (m_pSingleInstanceGuard->acquire()) {
    case ::shared::TSingleInstanceGuard::EOutcome::Acquired:
        break;
    case ::shared::TSingleInstanceGuard::EOutcome::AlreadyRunning:
        qInfo() << "Version: " << constants::kLauncherVersion << "already running" << threadSuffix;
        return finish(handOverToRunningLauncher());
    case ::shared::TSingleInstanceGuard::EOutcome::Failed:
        // Running unguarded could put two launchers into one installation. The log is not
        // opened: it may be a running launcher's.
        endWithMessage(QMessageBox::Critical, tr("Kestrun Online cannot start"),
                       tr("Kestrun Online cannot make sure that it runs only once for you: %1")
                           .arg(m_pSingleInstanceGuard->errorString()));
        return finish(1);
    }

    // Before anything can show a window: from here on the lock must be given back.
    watchTerminationSignals();
    setupLogging();
    qInfo() << "Version: " << constants::kLauncherVersion << threadSuffix;
    // After the log is open, where a door that cannot be opened is told.
    m_pRunningInstance = new TRunningInstance(
        m_pSingleInstanceGuard->folder(),
        [this](const QStringList& Arguments) { return onLaterStart(Arguments); }, this);
    m_pRunningInstance->listen();
    qInfo() << "Texts shown in" << m_pTranslationManager->language() << threadSuffix;
    if (!m_pLauncherFilesystemHelper->settings()->telemetry)
        qInfo() << "Telemetry switched off: no funnel events and no system survey are sent"
                << threadSuffix;
    if (const QString problem = settingsProblem(); !problem.isEmpty()) {
        endWithMessage(QMessageBox::Critical, tr("Kestrun Online cannot start"), problem);
        return finish(1);
    }
    qInfo() << "load configuration" << threadSuffix;

    // Asked from within the event loop: a failure reported at once (an address the network
    // layer refuses) ends the program through the loop, which only a running loop can do.
    QTimer::singleShot(0, m_pConfigurationHandler,
                       [this] { m_pConfigurationHandler->requestMainConfiguration(); });
    m_StartupTimer.start();
    return finish(exec());
}

int TLauncherApplication::handOverToRunningLauncher()
{
    const TRunningInstance::THandOver handOver = TRunningInstance::handOver(
        m_pSingleInstanceGuard->folder(), QCoreApplication::arguments().mid(1), kHandOverTimeoutMs);
    // On the terminal, in the player's language as every window text is.
    const auto tell = [](const QString& Text) {
        std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData());
    };
    if (handOver.Answer.startsWith(QLatin1String("done "))) {
        tell(tr("Kestrun Online is already running: %1").arg(handOver.Answer.mid(5)));
        return 0;
    }
    // Only the running launcher's own answer says something was done: a patch or a window that
    // silently did not come would look like one that did.
    const QString reason =
        handOver.Answer.startsWith(QLatin1String("refused "))
            ? handOver.Answer.mid(8)
            : tr("the running launcher did not answer (%1)").arg(handOver.Problem);
    if (m_CommandLineParser.isSet(m_PatchOption))
        tell(tr("Kestrun Online is already running; the patch was not started: %1").arg(reason));
    else
        tell(tr("Kestrun Online is already running but did not take this start: %1").arg(reason));
    return 1;
}

QString TLauncherApplication::onLaterStart(const QStringList& Arguments)
{
    QCommandLineParser parser;
    parser.addOption(m_PatchOption);
    parser.parse(QStringList{applicationFilePath()} + Arguments);
    if (parser.isSet(m_PatchOption)) {
        qInfo() << "A later start asked for a patch; refused while this launcher runs"
                << threadSuffix;
        return QStringLiteral("refused ") +
               tr("this launcher is busy; close it and start the patch again.");
    }
    // Still starting: the splash screen the player would see a moment later comes now.
    if (!m_pMainWindow && !m_pSplashScreen && m_StartupTimer.isActive())
        onStartupTimerTimeout();
    QWidget* window = m_pMainWindow ? static_cast<QWidget*>(m_pMainWindow)
                                    : static_cast<QWidget*>(m_pSplashScreen);
    if (!window) {
        qInfo() << "A later start found no window to bring to the front" << threadSuffix;
        return QStringLiteral("done ") + tr("it is working without a window.");
    }
    qInfo() << "A later start brought the launcher to the front" << threadSuffix;
    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->raise();
    window->activateWindow();
    return QStringLiteral("done ") + tr("its window was brought to the front.");
}

QString TLauncherApplication::settingsProblem() const
{
    const QUrl address = m_pLauncherFilesystemHelper->settings()->launcherConfiguration;
    if (address.isValid() && !address.isRelative())
        return {};
    const QString path = TLauncherFilesystemHelper::settingsFilePath(
        m_pLauncherFilesystemHelper->fileSystem(), applicationDirPath());
    return tr("The settings file %1 gives no valid address of the launcher configuration "
              "(\"launcherConfiguration\" in the group \"URLS\"). Please reinstall Launcher.")
        .arg(QDir::toNativeSeparators(path));
}

void TLauncherApplication::startProgressJson()
{
    if (!m_CommandLineParser.isSet(m_ProgressJsonOption))
        return;
    // A script that stops reading must not end the launcher in the middle of an installation.
    std::signal(SIGPIPE, SIG_IGN);
    m_pProgressJsonPrinter =
        std::make_unique<TProgressJsonPrinter>(std::make_unique<TLineWriter>(STDOUT_FILENO));
    QObject::connect(m_pConfigurationHandler,
                     &TLauncherConfigurationHandler::mainConfigurationLoaded, this, [this] {
                         const auto& configuration =
                             m_pConfigurationHandler->getLauncherConfiguration();
                         m_pProgressJsonPrinter->printConfigurationLoaded(
                             m_pConfigurationHandler->isLocalConfiguration(),
                             configuration ? int(configuration->getPackages().size()) : 0);
                     });
    QObject::connect(m_pConfigurationHandler, &TLauncherConfigurationHandler::documentFailedOnBase,
                     this, [this](const QUrl& Url, const QString& Base, const QString& Reason) {
                         m_pProgressJsonPrinter->onFailedOnBase(QString(), Url, Base, Reason,
                                                                false);
                     });
}

int TLauncherApplication::finish(int Status)
{
    if (m_pProgressJsonPrinter)
        m_pProgressJsonPrinter->printExit(Status);
    return Status;
}

void TLauncherApplication::addCommandLineOptions()
{
    // Unknown options are ignored on purpose: older shortcuts may still pass retired ones.
    m_CommandLineParser.addOption(m_FirstLaunchOption);
    m_CommandLineParser.addOption(m_SkipSelfUpdateOption);
    m_CommandLineParser.addOption(m_ShowUiOption);
    m_CommandLineParser.addOption(m_PatchOption);
    m_CommandLineParser.addOption(m_ProgressJsonOption);
}

void TLauncherApplication::watchTerminationSignals()
{
    // Leaving through the event loop releases the single-instance lock and flushes the log.
    m_pTerminationSignalWatcher = std::make_unique<::shared::TTerminationSignalWatcher>();
    QObject::connect(m_pTerminationSignalWatcher.get(),
                     &::shared::TTerminationSignalWatcher::terminationRequested, this,
                     [](int signalNumber) {
                         qInfo() << "terminationRequested" << signalNumber << threadSuffix;
                         QCoreApplication::exit(128 + signalNumber);
                     });
}

void TLauncherApplication::startSystemSurvey()
{
    // A later configuration replaces the survey of an earlier one.
    delete m_pSystemSurveyUploader;
    m_pSystemSurveyUploader = nullptr;
    const auto& configuration = m_pConfigurationHandler->getLauncherConfiguration();
    if (!configuration || !m_pLauncherFilesystemHelper->settings()->telemetry)
        return;
    // Only an address that can be posted to: a relative or file URL would fail anyway.
    const QUrl url = configuration->getHardwareSurveyUrl();
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")))
        return;
    m_pSystemSurveyUploader =
        systemsurvey::TSystemSurveyUploader::createForThisMachine(url).release();
    m_pSystemSurveyUploader->uploadSystemSurvey();
}

void TLauncherApplication::installTranslation()
{
    // A missing translation is silent: the about texts then show their identifiers, and the
    // other texts their English source. The player's language is that of the system locale.
    m_pTranslationManager->installTranslation(constants::kTranslationBaseName, applicationDirPath(),
                                              QLocale::system());
}

void TLauncherApplication::onStartupTimerTimeout()
{
    showSplashScreen(constants::kLoadingSplashImage);
}

void TLauncherApplication::onExitTimerTimeout()
{
    m_ExitTimer.stop();
    QCoreApplication::exit(0);
}

void TLauncherApplication::showSplashScreen(const QString& imagePath)
{
    hideSplashScreen();
    qInfo() << "showSplashScreen" << imagePath << threadSuffix;
    m_pSplashScreen = new QSplashScreen(QPixmap(imagePath));
    m_pSplashScreen->show();
    processEvents();
    m_StartupTimer.stop();
}

void TLauncherApplication::hideSplashScreen()
{
    if (!m_pSplashScreen)
        return;
    m_pSplashScreen->close();
    processEvents();
    delete m_pSplashScreen;
    m_pSplashScreen = nullptr;
}

bool TLauncherApplication::isHeadless()
{
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

void TLauncherApplication::showMaintenanceMessageAndExit()
{
    if (m_pConfigurationHandler->isServiceUnreachable()) {
        endWithMessage(QMessageBox::Warning, tr("Kestrun Online cannot be started"),
                       tr("Cannot reach the Kestrun Online service, check your connection. "
                          "Please try again later."));
        return;
    }
    const QString text =
        tr("Kestrun Online is currently down for maintenance. Please try again later.");
    qCritical() << "Maintenance message:" << text << threadSuffix;
    endWithMessage(QMessageBox::Information, tr("Kestrun Online cannot be started"), text);
}

void TLauncherApplication::showCriticalFileErrorAndExit(const QString& message)
{
    qCritical() << "Critical file error:" << message << threadSuffix;
    endWithMessage(
        QMessageBox::Critical, tr("Kestrun Online cannot start"),
        tr("A critical error occurred while accessing a file:\n%1\nPlease reinstall Launcher.")
            .arg(message));
}

void TLauncherApplication::endWithMessage(QMessageBox::Icon Icon, const QString& Title,
                                          const QString& Text)
{
    qCritical().noquote() << "Ending:" << Text << threadSuffix;
    m_StartupTimer.stop();
    hideSplashScreen();
    if (m_bExiting)
        return;
    m_bExiting = true;
    // A player who started the launcher from a terminal reads the reason there.
    std::fprintf(stderr, "%s\n", Text.toLocal8Bit().constData());
    if (!isHeadless())
        QMessageBox(Icon, Title, Text, QMessageBox::Close).exec();
    QCoreApplication::exit(1);
}

} // namespace orvik::launcher
