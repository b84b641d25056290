#include "launcher/installation/packageinstallation.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"

#include <QtConcurrent>

namespace orvik::launcher {

TPackageInstallation::TPackageInstallation(
    std::shared_ptr<TPackage> pPackage,
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper)
    : m_pPackage(std::move(pPackage))
    , m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
{
    createDownloader();
    // Progress is emitted on pool threads and delivered queued: the types need registering.
    qRegisterMetaType<TFileSize>("TFileSize");
    qRegisterMetaType<std::shared_ptr<TPackage>>("std::shared_ptr<orvik::launcher::TPackage>");
    connect(&m_VerificationWatcher, &QFutureWatcherBase::finished, this,
            [this] { onVerifyFinished(m_VerificationWatcher.result()); });
}

void TPackageInstallation::stop()
{
    qInfo() << "Stopping the installation of" << m_pPackage->getName() << threadSuffix;
    m_bStopRequested = true;
    m_pDownloads->stop();
}

TPackageInstallation::~TPackageInstallation()
{
    m_bStopRequested = true;
    m_PlanningWatcher.waitForFinished();
    m_VerificationWatcher.waitForFinished();
}

} // namespace orvik::launcher
