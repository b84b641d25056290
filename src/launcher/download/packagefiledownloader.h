#pragma once

#include "launcher/download/chunkedfilestate.h"
#include "launcher/download/chunktodownload.h"
#include "launcher/download/downloadrun.h"
#include "launcher/download/filetodownload.h"
#include "shared/concurrency/batchqueue.h"

#include <QByteArray>
#include <QDir>
#include <QFuture>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QNetworkReply>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <memory>
#include <stdexcept>
#include <vector>

namespace shared {
class TDownloadPool;
class TMirrorSet;
} // namespace shared

namespace orvik::launcher {

class TInstallationPolicy;
class TLauncherFilesystemHelper;

enum class EPackageDownloaderError : qint32 {
    NoError = 0,
    DownloadFailed = 1,
    SavingOperationFailed = 2,
    VerificationFailed = 3,
    // The player paused or cancelled it; what was written stays for the next run.
    Stopped = 4,
};

// The file a run could not write and the system's reason ("Is a directory", "File too large"):
// a folder of the player's in a file's place is no full disk, and the player is told which it is.
struct TSaveFailure
{
    // As the document names the file, or the whole path of a file outside the installation.
    QString Path;
    QString Reason;
    // The disk or the player's quota is full.
    bool OutOfSpace = false;
    bool isKnown() const { return !Path.isEmpty(); }
};

// The bytes a piecewise decoded body wrote into its file are not the ones its document describes.
class TPiecewiseCheckError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
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
    // A file downloaded whole that is at least this large is decoded piece by piece into its
    // place rather than whole in memory, when its container's codec allows it.
    static constexpr TFileSize kPiecewiseFrom = TFileSize(64) << 20;

    TPackageFileDownloader(std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
                           std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    // Waits for the work still running on the thread pool: it uses this object.
    ~TPackageFileDownloader() override;

    // The run's files are kept until each file's first chunk arrives: moved in, a large plan is
    // not held twice.
    void startDownload(const QDir& InstallationDirectory,
                       std::shared_ptr<const TInstallationPolicy> pPolicy, TDownloadRun Run);
    void startDownload(const QDir& InstallationDirectory,
                       std::shared_ptr<const TInstallationPolicy> pPolicy,
                       std::vector<TFileToDownload> Files)
    {
        startDownload(InstallationDirectory, std::move(pPolicy),
                      TDownloadRun::prepare(std::move(Files)));
    }

    // Ends the run as soon as the steps on the thread pool are back; it reports Stopped. Files
    // keep what was written into them.
    void stop();
    // Bytes per second over all of the run's connections, at once; 0 lifts the limit.
    void setMaxDownloadRate(qint64 BytesPerSecond);
    void setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors);

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
    // The most files of the run whose assembly state was held at one time.
    int mostFilesHeldAtOnce() const { return m_MostFilesHeldAtOnce; }

    // Not part of a run: the steps a chunk body goes through, each on a pool thread. The body as
    // it came is held to the document's packed size and digest before anything decodes it.
    void checkPackedData(const TChunkToDownload& Chunk, const QByteArray& Data) const;
    QByteArray decompressDownloadedData(const TChunkToDownload& Chunk,
                                        const QByteArray& Data) const;
    QByteArray verifyDownloadedData(const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void saveDownloadedData(const TChunkToDownload& Chunk, const QByteArray& Data) const;

signals:
    void downloadCompleted();
    void progress(TFileSize BytesDownloaded, TFileSize BytesTotalToDownload, TFileSize BytesWritten,
                  TFileSize BytesTotalToWrite);
    void downloadFailed(orvik::launcher::EPackageDownloaderError ErrorReason);
    // Comes just before downloadFailed(SavingOperationFailed) when the run knows what failed.
    void savingFailed(orvik::launcher::TSaveFailure Failure);
    // A try failed on one of several places that serve the bodies; it is tried elsewhere.
    void failedOnBase(QUrl Url, QString BaseRoot, QString Reason, bool SetAside);

public slots:
    void onDownloadCompleted(const QUrl& Url, const QByteArray& Data);
    void onDownloadFailed(const QUrl& Url, QNetworkReply::NetworkError Code,
                          const QString& ErrorString);
    void onDownloadProgress(const QUrl& Url, TFileSize DownloadedBytes);
    // What the workers wrote since the last call, in the order they wrote it.
    void onWrittenReports();
    void onProgressTick();
    // The outcomes of steps that ended on the thread pool.
    void onStepResults();

private:
    static constexpr int kStepResultsPerTurn = 32;
    enum class EStep { CheckPacked, Decompress, Verify, Save };
    struct TStepOutcome
    {
        QByteArray Data;
        QString Error; // empty on success
        TSaveFailure Failure;
        // The step that failed, or the last one run.
        EStep Step = EStep::Save;
    };

    // The step after Step for a chunk; a body that is no container is not decoded.
    static EStep nextStep(EStep Step, bool Unpack);
    // The run's chunk with this URL, or nullptr.
    TRunChunk* findChunk(const QUrl& Url);
    // The chunk with this URL when it is not finished yet, or nullptr.
    TRunChunk* findChunkInProgress(const QUrl& Url);
    void endChunk(TRunChunk& Chunk);
    // The chunk as a worker step gets it; for saving, with its files' states, made on first use.
    TChunkToDownload chunkForStep(const TRunChunk& Chunk, bool WithTargets);
    // A finished run keeps only its totals and flags: whatever comes next (verification reads
    // the whole document again) does not find the run's records still held. They are freed on
    // the thread pool: for a package of many small files that takes longer than the downloads'
    // own thread may wait between two replies.
    void releaseRun();
    void processDownloadedData(const QUrl& Url, const QByteArray& Data, bool Decompressed,
                               bool Verified);
    void onStepFinished(EStep Step, const QUrl& Url, const TStepOutcome& Outcome,
                        bool Decompressed);
    void retryOrGiveUp(const QUrl& Url, const QString& FinalMessage);
    void finishChunk(const QUrl& Url);
    void emitFinishedSignalWhenNoMoreFilesAreOutstanding();
    // A chunk failed for good, so the run cannot succeed: nothing more is fetched, and the run
    // ends as soon as the steps already on the thread pool are back.
    void endRunAtOnce(const QString& Reason);
    void releaseUrl(const QUrl& Url);
    void queueMoreDownloads();
    // Uses: the positions still to be written from this body.
    void parkChunk(const TChunkToDownload& Chunk, const QByteArray& Data, int Uses) const;
    void useOnce(const QByteArray& UnpackedHash) const;
    // Whether Chunk, its body as it came, is decoded piece by piece into its files.
    static bool decodesPiecewise(const TChunkToDownload& Chunk, const QByteArray& Data);
    // Decodes Data into every file of Chunk, each a file downloaded whole, checking the decoded
    // bytes as they are written.
    void savePiecewise(const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void writePiecewise(TChunkedFileState& Target, const QString& Path,
                        const TChunkToDownload& Chunk, const QByteArray& Data) const;
    // Writes the target's outstanding chunks in file order for as long as their bytes are here;
    // returns how many were written from Data.
    int writeOutstanding(TChunkedFileState& Target, const QString& Path,
                         const TChunkToDownload& Chunk, const QByteArray& Data) const;
    void prepareTarget(TChunkedFileState& Target, const QString& Path) const;
    void completeTarget(TChunkedFileState& Target, const QString& Path) const;

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    QDir m_InstallationDirectory;
    std::shared_ptr<const TInstallationPolicy> m_pPolicy;
    bool m_bAtLeastOneDownloadFailed = false;
    bool m_bAtLeastOneSavingOperationFailed = false;
    // The run's first failed write.
    TSaveFailure m_SaveFailure;
    bool m_bEnding = false;
    bool m_bStopped = false;
    // The run's files are each in m_Run until its first chunk arrives; then its state is here,
    // until it is written. A state is as large as its file's record: made for every file up
    // front, a package of many small files held them all while only a few are being written at
    // any time.
    TDownloadRun m_Run;
    std::vector<std::shared_ptr<TChunkedFileState>> m_FileStates;
    int m_FilesHeldNow = 0;
    int m_MostFilesHeldAtOnce = 0;
    // The next chunk of m_Run to hand to the pool.
    size_t m_NextToQueue = 0;
    bool m_bQueueing = false;
    bool m_bTopUpScheduled = false;
    TFileSize m_DownloadedSum = 0;
    TFileSize m_WrittenSum = 0;
    QTimer m_ProgressTimer;
    TFileSize m_PreviousDownloadedSum = 0;
    unsigned m_RateSampleCount = 0;
    double m_RateMean = 0;
    // The steps on the thread pool; finished ones go when the next starts.
    std::vector<QFuture<void>> m_RunningSteps;
    struct TStepResult
    {
        QUrl Url;
        bool Decompressed = false;
        TStepOutcome Outcome;
    };
    ::shared::TBatchQueue<TStepResult> m_StepResults;
    std::deque<TStepResult> m_StepBacklog;
    // Each written chunk, reported from the workers: a package of many small files writes
    // thousands a minute, and one event each would hold up the downloads' thread.
    mutable ::shared::TBatchQueue<std::pair<QUrl, TFileSize>> m_WrittenReports;

    mutable QMutex m_CacheLock;
    mutable QMap<QByteArray, std::shared_ptr<TPendingChunk>> m_PendingChunks;
    mutable int m_ChunksInMemory = 0;
    mutable int m_ChunksParked = 0;
    mutable int m_ChunksHeldNow = 0;
    mutable int m_MostChunksHeldAtOnce = 0;
};

} // namespace orvik::launcher

Q_DECLARE_METATYPE(orvik::launcher::EPackageDownloaderError)
Q_DECLARE_METATYPE(orvik::launcher::TSaveFailure)
