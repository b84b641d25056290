#include "launcher/installation/packageinstallation.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"

#include <QtConcurrent>

namespace orvik::launcher {

TPackageInstallation::TPackageInstallation(
    std::shared_ptr<TPackage> pPackage,
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper)
    : m_pPackage(std::move(pPackage))
    , m_pPackageFileDownloader(nullptr, [](TPackageFileDownloader* p) { p->deleteLater(); })
    , m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
{
    createDownloader();
    // Progress is emitted on pool threads and delivered queued: the types need registering.
    qRegisterMetaType<TFileSize>("TFileSize");
    qRegisterMetaType<std::shared_ptr<TPackage>>("std::shared_ptr<orvik::launcher::TPackage>");
    connect(&m_VerificationWatcher, &QFutureWatcherBase::finished, this,
            [this] { onVerifyFinished(m_VerificationWatcher.result()); });
}

TPackageInstallation::~TPackageInstallation()
{
    m_bStopRequested = true;
    m_PlanningWatcher.waitForFinished();
    m_VerificationWatcher.waitForFinished();
}

void TPackageInstallation::startVerification(const TPackageConfigurationReader& Configuration,
                                             bool Force)
{
    if (!Force && m_pLauncherFilesystemHelper->settings()->skipVerification) {
        onVerifyFinished(true);
        return;
    }
    if (m_VerificationWatcher.isRunning()) {
        qWarning() << "startVerification ignored: a verification is running" << threadSuffix;
        return;
    }
    // One copy of the file list, moved on: the task's stored arguments would be copied again.
    m_VerificationWatcher.setFuture(QtConcurrent::run([this, directory = m_InstallationDirectory,
                                                       helper = m_pLauncherFilesystemHelper,
                                                       files = Configuration.getFiles()]() mutable {
        return VerifyPackage(directory, helper, std::move(files));
    }));
}

void TPackageInstallation::onVerifyFinished(bool Result)
{
    qInfo() << "onVerifyFinished with " << (Result ? "true" : "false") << threadSuffix;
    m_bWithoutError = Result;
    m_ErrorReason =
        Result ? EPackageDownloaderError::NoError : EPackageDownloaderError::VerificationFailed;
    emit verificationFinished(m_pPackage);
}

} // namespace orvik::launcher
