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
    connect(&m_VerificationWatcher, &QFutureWatcherBase::finished, this, [this] {
        TVerificationOutcome outcome = m_VerificationWatcher.result();
        m_DamagedFiles = std::move(outcome.DamagedFiles);
        onVerifyFinished(outcome.Passed);
    });
}

void TPackageInstallation::stop()
{
    qInfo() << "Stopping the installation of" << m_pPackage->getName() << threadSuffix;
    m_bStopRequested = true;
    m_pDownloads->stop();
}

void TPackageInstallation::startRepair(const TPackageConfigurationReader& Remote)
{
    qInfo() << "Repairing" << m_DamagedFiles.size() << "files of" << m_pPackage->getName()
            << threadSuffix;
    m_RepairedFiles = m_DamagedFiles;
    // Nothing else is planned: the other files were just read and found as listed, and with no
    // installed list nothing is taken for obsolete and deleted.
    startPlanning(Remote.withOnlyFiles(m_RepairedFiles), TPackageConfigurationReader(), false);
}

TPackageInstallation::~TPackageInstallation()
{
    m_bStopRequested = true;
    m_PlanningWatcher.waitForFinished();
    m_VerificationWatcher.waitForFinished();
}

} // namespace orvik::launcher
