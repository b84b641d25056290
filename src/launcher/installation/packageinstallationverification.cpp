#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/installationpath.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "shared/concurrency/parallelworkers.h"
#include "shared/hash/sha256.h"

#include <QFile>
#include <QMutex>

namespace orvik::launcher {

namespace {

constexpr qint64 kVerificationReadSize = 10485760;

struct TVerificationState
{
    QMutex Mutex;
    size_t Next = 0;
    TFileSize Verified = 0;
    TFileSize Total = 0;
    bool Result = true;
};

} // namespace

bool TPackageInstallation::VerifyPackage(QDir Directory,
                                         std::shared_ptr<TLauncherFilesystemHelper> pHelper,
                                         TFileInPackageVector Files)
{
    qInfo() << "VerifyPackage: " << Directory.absolutePath() << threadSuffix;
    TVerificationState state;
    for (const TFileInPackage& file : Files)
        state.Total += file.UnpackedSize;

    const auto fail = [&state] {
        QMutexLocker lock(&state.Mutex);
        state.Result = false;
        return false;
    };
    // One file, read once in large unbuffered pieces; false when it is missing, unreadable or
    // different, or when the installation is going away.
    const auto verifyFile = [&](const TFileInPackage& File, std::vector<char>& Buffer) {
        QString path;
        try {
            path = resolveFileInInstallation(pHelper->fileSystem(), Directory, File.LocalFile);
        } catch (const std::runtime_error& error) {
            qWarning() << "verification of file " << File.LocalFile << " failed: " << error.what();
            return false;
        }
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered)) {
            qWarning() << "verification of file " << File.LocalFile
                       << " failed: " << file.errorString();
            return false;
        }
        ::shared::TSha256 hash;
        for (;;) {
            if (m_bStopRequested)
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
            QMutexLocker lock(&state.Mutex);
            state.Verified += TFileSize(read);
            emit verificationProgress(state.Verified, state.Total);
        }
        if (hash.result() != File.UnpackedHash) {
            qWarning() << "verification of file " << File.LocalFile << " failed";
            return false;
        }
        qInfo() << "verification of file " << File.LocalFile << " successfully" << threadSuffix;
        return true;
    };

    const auto worker = [&]() -> bool {
        std::vector<char> buffer;
        for (;;) {
            const TFileInPackage* file = nullptr;
            {
                QMutexLocker lock(&state.Mutex);
                // Once one file failed the outcome is settled: the others need not be read.
                if (!state.Result || m_bStopRequested || state.Next >= Files.size())
                    return true;
                file = &Files[state.Next++];
            }
            if (buffer.empty())
                buffer.resize(size_t(kVerificationReadSize));
            bool verified = false;
            try {
                verified = verifyFile(*file, buffer);
            } catch (const std::exception& error) {
                qWarning() << "verification of file " << file->LocalFile
                           << " failed: " << error.what();
            }
            if (!verified)
                return fail();
        }
    };
    ::shared::runParallelWorkers(VerificationWorkerCount, worker);
    return state.Result && !m_bStopRequested;
}

} // namespace orvik::launcher
