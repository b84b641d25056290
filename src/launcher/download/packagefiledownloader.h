#pragma once

#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunktodownload.h"
#include "launcher/download/filetodownload.h"

#include <QByteArray>
#include <QDir>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <set>
#include <vector>

class QFutureWatcherBase;

namespace shared {
class TDownloadPool;
}

namespace orvik::launcher {

class TInstallationPolicy;
class TLauncherFilesystemHelper;

enum class EPackageDownloaderError : qint32 {
    NoError = 0,
    DownloadFailed = 1,
    SavingOperationFailed = 2,
    VerificationFailed = 3,
};

// Fetches the chunks a package installation still needs through its own pool (manual release,
// so the pool's bound also limits the processing), decodes, verifies and writes each one on the
// thread pool, retries failures and reports the end of a run exactly once.
class TPackageFileDownloader : public QObject
{
    Q_OBJECT

public:
    // A chunk is fetched at most this often before the run gives up on it.
    static constexpr int kMaxAttempts = 4;

    TPackageFileDownloader(std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                           std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    // Waits for the work still running on the thread pool: it uses this object.
    ~TPackageFileDownloader() override;

    void startDownload(const QDir& InstallationDirectory,
                       std::shared_ptr<const TInstallationPolicy> pPolicy,
                       const std::vector<TFileToDownload>& Files);

    // Bytes per second, averaged over the last ticks; false while there is no sample.
    bool downloadRate(double& BytesPerSecond) const;

    // How often the run so far had to park a chunk that arrived before its turn, and the most
    // parked bodies it held at one time (in memory and in temporary files).
    struct TParkingStatistics
    {
        int Parked = 0;
        int MostHeldAtOnce = 0;
    };
    TParkingStatistics parkingStatistics() const;

    // Not part of a run: the steps a chunk body goes through, each on a pool thread.
    QByteArray decompressDownloadedData(const TChunkToDownload& Chunk,
                                        const QByteArray& Data) const;
    QByteArray verifyDownloadedData(const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void saveDownloadedData(const TChunkToDownload& Chunk, const QByteArray& Data) const;

signals:
    void downloadCompleted();
    void writeProgress(const QUrl& Url, TFileSize DownloadedBytes) const;
    void progress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload, TFileSize BytesWritten,
                  TFileSize BytesTotalToWrite);
    void downloadFailed(orvik::launcher::EPackageDownloaderError ErrorReason);

public slots:
    void onDownloadCompleted(const QUrl& Url, const QByteArray& Data);
    void onDownloadFailed(const QUrl& Url, QNetworkReply::NetworkError Code,
                          const QString& ErrorString);
    void onDownloadProgress(const QUrl& Url, TFileSize DownloadedBytes);
    void onWriteProgress(const QUrl& Url, TFileSize DownloadedBytes);
    void onProgressTick();

private:
    enum class EStep { Decompress, Verify, Save };
    struct TStepOutcome
    {
        QByteArray Data;
        QString Error; // empty on success
    };

    // One chunk of the run and what the run knows of it. Kept once per chunk: a package of many
    // small files has one per file, and maps keyed by URL cost a node and a copy each.
    struct TRunChunk
    {
        TChunkToDownload Chunk;
        TFileSize DownloadedBytes = 0;
        TFileSize WrittenBytes = 0;
        bool InProgress = false;
    };

    // The run's chunk with this URL, or nullptr.
    TRunChunk* findChunk(const QUrl& Url);
    // The chunk with this URL when it is not finished yet, or nullptr.
    TRunChunk* findChunkInProgress(const QUrl& Url);
    void endChunk(TRunChunk& Chunk);
    // A finished run keeps only its totals and flags: whatever comes next (verification reads
    // the whole document again) does not find the run's records still held.
    void releaseRun();
    void processDownloadedData(const QUrl& Url, const QByteArray& Data, bool Decompressed,
                               bool Verified);
    void onStepFinished(EStep Step, const QUrl& Url, const TStepOutcome& Outcome,
                        bool Decompressed);
    void retryOrGiveUp(const QUrl& Url, const QString& FinalMessage);
    void finishChunk(const QUrl& Url);
    void emitFinishedSignalWhenNoMoreFilesAreOutstanding();
    void releaseUrl(const QUrl& Url);
    void parkChunk(const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void useOnce(const QByteArray& UnpackedHash) const;
    // Writes the target's outstanding chunks in file order for as long as their bytes are here.
    void writeOutstanding(TChunkedFileState& Target, const QString& Path,
                          const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void prepareTarget(TChunkedFileState& Target, const QString& Path) const;
    void completeTarget(TChunkedFileState& Target, const QString& Path) const;

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    QDir m_InstallationDirectory;
    std::shared_ptr<const TInstallationPolicy> m_pPolicy;
    bool m_bAtLeastOneDownloadFailed = false;
    bool m_bAtLeastOneSavingOperationFailed = false;
    // In the order they are queued.
    std::vector<TRunChunk> m_AllChunks;
    // Positions in m_AllChunks; the first chunk with a URL owns it.
    QHash<QUrl, int> m_ChunkByUrl;
    int m_ChunksInProgress = 0;
    TFileSize m_TotalPacked = 0;
    TFileSize m_TotalUnpacked = 0;
    TFileSize m_DownloadedSum = 0;
    TFileSize m_WrittenSum = 0;
    QTimer m_ProgressTimer;
    TFileSize m_PreviousDownloadedSum = 0;
    unsigned m_RateSampleCount = 0;
    double m_RateMean = 0;
    std::set<QFutureWatcherBase*> m_RunningSteps;

    mutable QMutex m_CacheLock;
    mutable QMap<QByteArray, std::shared_ptr<TPendingChunk>> m_PendingChunks;
    mutable int m_ChunksInMemory = 0;
    mutable int m_ChunksParked = 0;
    mutable int m_ChunksHeldNow = 0;
    mutable int m_MostChunksHeldAtOnce = 0;
};

} // namespace orvik::launcher

Q_DECLARE_METATYPE(orvik::launcher::EPackageDownloaderError)
