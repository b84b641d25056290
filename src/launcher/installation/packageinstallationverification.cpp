// The verification of an installed package: every listed file read and hashed again.
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/installation/scanprogress.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/concurrency/parallelworkers.h"
#include "shared/hash/sha256.h"
#include "shared/platform/threadpriority.h"

#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QtConcurrent>

#include <atomic>
#include <functional>

namespace orvik::launcher {

namespace {

constexpr qint64 kVerificationReadSize = 10485760;

struct TVerificationState
{
    QMutex Mutex;
    size_t Next = 0;
    QStringList Damaged;
};

// Read once in large unbuffered pieces; false when the file is unreadable or different, or when
// the installation is going away.
bool fileMatches(const QString& Path, const TFileInPackage& File, std::vector<char>& Buffer,
                 const std::atomic<bool>& StopRequested, const std::function<void(TFileSize)>& Read)
{
    // A FIFO opened for reading waits for a writer for good; a device may never end. Whatever
    // stands in a file's place and is not a file is damage, never read.
    if (!QFileInfo(Path).isFile()) {
        qWarning() << "verification of file " << File.LocalFile
                   << " failed: missing or not a regular file";
        return false;
    }
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
        qWarning() << "verification of file " << File.LocalFile
                   << " failed: " << file.errorString();
        return false;
    }
    ::shared::TSha256 hash;
    for (;;) {
        if (StopRequested)
            return false;
        const qint64 read = file.read(Buffer.data(), kVerificationReadSize);
        if (read < 0) {
            qWarning() << "verification of file " << File.LocalFile
                       << " failed: " << file.errorString();
            return false;
        }
        if (read == 0)
            break;
        hash.addData(Buffer.data(), size_t(read));
        Read(TFileSize(read));
    }
    if (hash.result() != File.UnpackedHash) {
        qWarning() << "verification of file " << File.LocalFile << " failed";
        return false;
    }
    qInfo() << "verification of file " << File.LocalFile << " successfully" << threadSuffix;
    return true;
}

} // namespace

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
    // A copy of the reader shares its records: the window's thread copies none of them.
    m_VerificationWatcher.setFuture(
        QtConcurrent::run([this, directory = m_InstallationDirectory,
                           helper = m_pLauncherFilesystemHelper, configuration = Configuration] {
            return VerifyPackage(directory, helper, configuration.getFiles());
        }));
}

void TPackageInstallation::onVerifyFinished(bool Result)
{
    qInfo() << "onVerifyFinished with " << (Result ? "true" : "false") << threadSuffix;
    m_bWithoutError = Result;
    m_ErrorReason = Result             ? EPackageDownloaderError::NoError
                    : m_bStopRequested ? EPackageDownloaderError::Stopped
                                       : EPackageDownloaderError::VerificationFailed;
    emit verificationFinished(m_pPackage);
}

TVerificationOutcome
TPackageInstallation::VerifyPackage(QDir Directory,
                                    std::shared_ptr<TLauncherFilesystemHelper> pHelper,
                                    const TFileInPackageVector& Files)
{
    qInfo() << "VerifyPackage: " << Directory.absolutePath() << threadSuffix;
    TVerificationState state;
    TFileSize total = 0;
    for (const TFileInPackage& file : Files)
        total += file.UnpackedSize;
    TScanProgress progress(
        total, [this](TFileSize Done, TFileSize Total) { emit verificationProgress(Done, Total); });
    const auto read = [&progress](TFileSize Bytes) { progress.add(Bytes); };

    // Every file is read, also after one failed: a repair then fetches what all of them lack,
    // and the player learns which they were.
    const auto worker = [&]() -> bool {
        ::shared::platform::lowerThisThreadsPriority();
        std::vector<char> buffer;
        for (;;) {
            const TFileInPackage* file = nullptr;
            {
                QMutexLocker lock(&state.Mutex);
                if (m_bStopRequested || state.Next >= Files.size())
                    return true;
                file = &Files[state.Next++];
            }
            if (buffer.empty())
                buffer.resize(size_t(kVerificationReadSize));
            bool verified = false;
            try {
                const QString path =
                    resolveFileInInstallation(pHelper->fileSystem(), Directory, file->LocalFile);
                verified = fileMatches(path, *file, buffer, m_bStopRequested, read);
            } catch (const std::exception& error) {
                qWarning() << "verification of file " << file->LocalFile
                           << " failed: " << error.what();
            }
            if (!verified && !m_bStopRequested) {
                QMutexLocker lock(&state.Mutex);
                state.Damaged.append(file->LocalFile);
            }
        }
    };
    ::shared::runParallelWorkers(VerificationWorkerCount, worker);
    state.Damaged.sort();
    return {!m_bStopRequested && state.Damaged.isEmpty(), std::move(state.Damaged)};
}

} // namespace orvik::launcher
