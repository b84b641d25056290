// The launcher's last act: starting the game client and leaving.
#include "launcher/configuration/launcherconfigurationhandler.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationmanager.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "launcher/progress/progressjsonprinter.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/telemetry/funnelevents.h"
#include "launcher/ui/launchermainwindow.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QProcess>

namespace orvik::launcher {

namespace {

const QString kClientSettingsFile =
    QStringLiteral("KestrunOnlineClient_Data/Data/Settings/settings.json");
const QString kUpToDateArgument = QStringLiteral("--package-is-up-to-date");

// Only looked at: a damaged client settings file is the client's to repair, but it is worth a
// line in the log when the client then misbehaves.
void checkClientSettings(const QDir& installationDirectory)
{
    QFile file(installationDirectory.filePath(kClientSettingsFile));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qWarning() << "Could not open settings file:" << file.fileName();
        return;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError) {
        qWarning() << "JSON parse error:" << error.errorString();
        return;
    }
    if (!document.isObject()) {
        qWarning() << "JSON is not an object!";
        return;
    }
    if (!document.object().contains(QLatin1String("GraphicsAPI")))
        qWarning() << "GraphicsAPI key not found!";
}

} // namespace

void TLauncherApplication::startPackageAndExit(const std::shared_ptr<TPackage>& Package)
{
    qInfo() << "startPackageAndExit" << Package->getName() << threadSuffix;
    if (!m_pInstallationManager)
        return;
    const QString executable = m_pInstallationManager->getExecutablePath(*Package);
    const TPackageConfigurationReader* configuration = Package->getConfiguration();
    QStringList arguments = configuration ? configuration->getParameters() : QStringList();
    checkClientSettings(m_pInstallationManager->getInstallationDirectory(*Package));
    if (Package->isCheckedThisSession())
        arguments << kUpToDateArgument;
    if (executable.isEmpty()) {
        showMainWindowOrFail(
            QStringLiteral("The package %1 names no executable to start.").arg(Package->getName()));
        return;
    }

    // The client finds the libraries shipped beside it, whatever the player's environment says.
    const QString directory = QFileInfo(executable).absolutePath();
    qputenv("LD_LIBRARY_PATH", QFile::encodeName(directory));
    if (!QProcess::startDetached(executable, arguments, directory)) {
        qCritical() << "Could not start" << executable << threadSuffix;
        QCoreApplication::exit(1);
        return;
    }
    if (m_pProgressJsonPrinter)
        m_pProgressJsonPrinter->printClientStarted(executable, arguments);
    m_ExitTimer.start();
    if (m_pMainWindow)
        m_pMainWindow->close();
}

void TLauncherApplication::sendFunnelEvent(const QString& Step, const QString& FirstFlagKey)
{
    const auto& configuration = m_pConfigurationHandler->getLauncherConfiguration();
    const QUrl funnelUrl = configuration ? configuration->getFunnelUrl() : QUrl();
    TFunnelEventSender(this, m_FunnelIdentifierKey,
                       m_pLauncherFilesystemHelper->settings()->telemetry)
        .send(funnelUrl, m_AccountGroup, Step, FirstFlagKey);
}

} // namespace orvik::launcher
