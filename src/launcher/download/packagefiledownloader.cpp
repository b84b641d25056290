#include "launcher/download/packagefiledownloader.h"

#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerpieces.h"
#include "shared/filesystemhelper/decompressionerror.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/hash/sha256.h"
#include "shared/network/downloadpool.h"
#include "shared/platform/threadpriority.h"

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <limits>
#include <utility>

namespace orvik::launcher {

namespace {

// Process-wide, for the log only: how much work of each kind is on the thread pool.
std::atomic<int> g_DecodingsInProgress{0};
std::atomic<int> g_VerificationsInProgress{0};
std::atomic<int> g_SavesInProgress{0};

// 0 checks a body as it came, 1 decodes it, 2 checks what it decoded to, 3 writes it.
std::atomic<int>& counterFor(int step)
{
    switch (step) {
    case 1:
        return g_DecodingsInProgress;
    case 0:
    case 2:
        return g_VerificationsInProgress;
    default:
        return g_SavesInProgress;
    }
}

const char* boolText(bool value)
{
    return value ? "true" : "false";
}

// The pool holds a body in memory until it ends, so it stops reading one that is longer than
// the document allows. A document without a packed size still states the unpacked one: no
// codec of the container grows incompressible data by an eighth, nor adds 64 KiB of framing.
qint64 maxBodyBytes(const TChunkInPackage& chunk)
{
    constexpr TFileSize kFraming = 64 * 1024;
    constexpr TFileSize kLargest = TFileSize(std::numeric_limits<qint64>::max());
    TFileSize size = chunk.PackedSize;
    if (size == 0)
        size = std::min(chunk.UnpackedSize, kLargest) / 8 * 9 + kFraming;
    return qint64(std::min(size, kLargest));
}

} // namespace

TPackageFileDownloader::TPackageFileDownloader(
    std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper)
    : m_pDownloadPool(std::move(pDownloadPool))
    , m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
    , m_StepResults([this] {
        QMetaObject::invokeMethod(this, &TPackageFileDownloader::onStepResults,
                                  Qt::QueuedConnection);
    })
    , m_WrittenReports([this] {
        QMetaObject::invokeMethod(this, &TPackageFileDownloader::onWrittenReports,
                                  Qt::QueuedConnection);
    })
{
    qRegisterMetaType<TFileSize>("TFileSize");
    qRegisterMetaType<EPackageDownloaderError>();
    qRegisterMetaType<TSaveFailure>();

    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::success, this,
            &TPackageFileDownloader::onDownloadCompleted);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failed, this,
            &TPackageFileDownloader::onDownloadFailed);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failedOnBase, this,
            &TPackageFileDownloader::failedOnBase);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::progress, this,
            [this](const QUrl& url, qint64 bytes) {
                onDownloadProgress(url, static_cast<TFileSize>(std::max<qint64>(bytes, 0)));
            });
    m_ProgressTimer.setInterval(100);
    connect(&m_ProgressTimer, &QTimer::timeout, this, &TPackageFileDownloader::onProgressTick);
}

TPackageFileDownloader::~TPackageFileDownloader()
{
    // Their results are posted to this object, and dropped with it once the tasks are done.
    for (QFuture<void>& step : m_RunningSteps)
        step.waitForFinished();
}

void TPackageFileDownloader::startDownload(const QDir& InstallationDirectory,
                                           std::shared_ptr<const TInstallationPolicy> pPolicy,
                                           TDownloadRun Run)
{
    m_InstallationDirectory = InstallationDirectory;
    m_pPolicy = std::move(pPolicy);
    releaseRun();
    m_MostFilesHeldAtOnce = 0;
    m_Run = std::move(Run);
    m_FileStates.resize(m_Run.Files.size());
    {
        QMutexLocker lock(&m_CacheLock);
        m_ChunksInMemory = 0;
        m_ChunksParked = 0;
        m_ChunksHeldNow = 0;
        m_MostChunksHeldAtOnce = 0;
    }
    qInfo() << "start download of " << m_Run.Chunks.size() << " files" << threadSuffix;
    m_bAtLeastOneDownloadFailed = false;
    m_bAtLeastOneSavingOperationFailed = false;
    m_SaveFailure = TSaveFailure();
    m_bEnding = false;
    m_bStopped = false;
    m_ProgressTimer.start();
    m_PreviousDownloadedSum = 0;
    m_RateSampleCount = 0;
    m_RateMean = 0;

    if (m_Run.Chunks.empty()) {
        emitFinishedSignalWhenNoMoreFilesAreOutstanding();
        return;
    }
    queueMoreDownloads();
}

// The pool is fed a few chunks ahead of its bound rather than the whole run at once: it holds a
// queue entry and a key per waiting URL, for a package of many small files one per file.
void TPackageFileDownloader::queueMoreDownloads()
{
    m_bTopUpScheduled = false;
    // A synchronous failure from the pool comes back here through the retry rule.
    if (m_bQueueing)
        return;
    m_bQueueing = true;
    const size_t ahead = size_t(std::max(1, m_pDownloadPool->getMaxConcurrentDownloads())) * 2;
    while (m_NextToQueue < m_Run.Chunks.size() &&
           m_pDownloadPool->getNumberOfOutstandingDownloads() < ahead) {
        const TRunChunk& chunk = m_Run.Chunks[m_NextToQueue++];
        // Not in progress: its URL belongs to an earlier chunk of the run.
        if (!chunk.InProgress)
            continue;
        // Copies: a synchronous failure from the pool changes the lists.
        const QUrl url = chunk.Piece.Url;
        const qint64 limit = maxBodyBytes(chunk.Piece);
        m_pDownloadPool->queueDownload(url, limit);
    }
    m_bQueueing = false;
}

TRunChunk* TPackageFileDownloader::findChunk(const QUrl& Url)
{
    const auto found = m_Run.ChunkByUrl.constFind(Url);
    return found == m_Run.ChunkByUrl.constEnd() ? nullptr : &m_Run.Chunks[size_t(found.value())];
}

TRunChunk* TPackageFileDownloader::findChunkInProgress(const QUrl& Url)
{
    TRunChunk* chunk = findChunk(Url);
    return chunk && chunk->InProgress ? chunk : nullptr;
}

void TPackageFileDownloader::endChunk(TRunChunk& Chunk)
{
    if (!Chunk.InProgress)
        return;
    Chunk.InProgress = false;
    // A file's state goes once it is written; one that still waits for chunks stays.
    for (const int file : Chunk.TargetFiles) {
        std::shared_ptr<TChunkedFileState>& state = m_FileStates[size_t(file)];
        if (!state)
            continue;
        QMutexLocker lock(&state->Lock);
        const bool written = state->Outstanding.empty();
        lock.unlock();
        if (written) {
            state.reset();
            --m_FilesHeldNow;
        }
    }
    Chunk.TargetFiles = {};
    --m_Run.ChunksInProgress;
}

TChunkToDownload TPackageFileDownloader::chunkForStep(const TRunChunk& Chunk, bool WithTargets)
{
    TChunkToDownload chunk;
    static_cast<TChunkInPackage&>(chunk) = Chunk.Piece;
    chunk.RetryCount = Chunk.RetryCount;
    chunk.Uses = Chunk.Uses;
    if (!WithTargets)
        return chunk;
    chunk.TargetFiles.reserve(Chunk.TargetFiles.size());
    for (const int file : Chunk.TargetFiles) {
        std::shared_ptr<TChunkedFileState>& state = m_FileStates[size_t(file)];
        if (!state) {
            // Nothing was written into the file before its first chunk arrived.
            state = std::make_shared<TChunkedFileState>(std::move(m_Run.Files[size_t(file)]));
            m_Run.Files[size_t(file)] = TFileToDownload();
            m_MostFilesHeldAtOnce = std::max(m_MostFilesHeldAtOnce, ++m_FilesHeldNow);
        }
        chunk.TargetFiles.push_back(state);
    }
    return chunk;
}

void TPackageFileDownloader::releaseRun()
{
    // The records hold no reference to this object, and a step still on the pool keeps its own
    // file states.
    if (!m_Run.Chunks.empty() || !m_Run.Files.empty() || !m_FileStates.empty()) {
        auto released = std::make_shared<std::pair<TDownloadRun, decltype(m_FileStates)>>(
            std::exchange(m_Run, {}), std::exchange(m_FileStates, {}));
        QThreadPool::globalInstance()->start(
            [released = std::move(released)]() mutable { released.reset(); });
    }
    m_FilesHeldNow = 0;
    m_NextToQueue = 0;
    m_DownloadedSum = 0;
    m_WrittenSum = 0;
    QMutexLocker lock(&m_CacheLock);
    m_PendingChunks.clear(); // parked temporary files go with their entries
}

bool TPackageFileDownloader::downloadRate(double& BytesPerSecond) const
{
    if (m_RateSampleCount == 0)
        return false;
    BytesPerSecond = 10.0 * m_RateMean;
    return true;
}

TPackageFileDownloader::TParkingStatistics TPackageFileDownloader::parkingStatistics() const
{
    QMutexLocker lock(&m_CacheLock);
    return {m_ChunksParked, m_MostChunksHeldAtOnce};
}

void TPackageFileDownloader::onDownloadCompleted(const QUrl& Url, const QByteArray& Data)
{
    processDownloadedData(Url, Data, false, false);
}

void TPackageFileDownloader::processDownloadedData(const QUrl& Url, const QByteArray& Data,
                                                   bool Decompressed, bool Verified)
{
    TRunChunk* found = findChunkInProgress(Url);
    if (!found) {
        releaseUrl(Url);
        return;
    }
    found->Working = true;
    EStep step = EStep::Save;
    if (!Verified)
        step = Decompressed ? EStep::Verify : EStep::CheckPacked;
    const TChunkToDownload chunk = chunkForStep(*found, true);

    // The steps of a chunk run one after the other in one task: a hop through this thread
    // between them cost several events per step, and a package of many small files made this
    // thread's timers and replies wait behind thousands of them. Each step catches its own
    // failure: nothing thrown on a pool thread may reach this thread.
    auto work = [this, step, chunk, Data]() -> TStepOutcome {
        ::shared::platform::lowerThisThreadsPriority();
        TStepOutcome outcome;
        outcome.Data = Data;
        bool piecewise = false;
        outcome.Step = step;
        for (;;) {
            std::atomic<int>& counter = counterFor(int(outcome.Step));
            ++counter;
            try {
                switch (outcome.Step) {
                case EStep::CheckPacked:
                    checkPackedData(chunk, outcome.Data);
                    break;
                case EStep::Decompress:
                    outcome.Data = decompressDownloadedData(chunk, outcome.Data);
                    break;
                case EStep::Verify:
                    outcome.Data = verifyDownloadedData(chunk, outcome.Data);
                    break;
                case EStep::Save:
                    if (piecewise)
                        savePiecewise(chunk, outcome.Data);
                    else
                        saveDownloadedData(chunk, outcome.Data);
                    break;
                }
            } catch (const ::shared::TWriteError& error) {
                outcome.Error = QString::fromUtf8(error.what());
                outcome.Failure = {error.fileName(), error.reason(), error.isOutOfSpace()};
            } catch (const ::shared::TDecompressionError& error) {
                // Decoded while it was written: it failed as a decoding does.
                outcome.Error = QString::fromUtf8(error.what());
                outcome.Step = EStep::Decompress;
            } catch (const TPiecewiseCheckError& error) {
                outcome.Error = QString::fromUtf8(error.what());
                outcome.Step = EStep::Verify;
            } catch (const std::exception& error) {
                outcome.Error = QString::fromUtf8(error.what());
                if (outcome.Error.isEmpty())
                    outcome.Error = QStringLiteral("unknown failure");
            }
            --counter;
            if (!outcome.Error.isEmpty() || outcome.Step == EStep::Save)
                return outcome;
            outcome.Step = nextStep(outcome.Step, chunk.Unpack);
            if (outcome.Step == EStep::Decompress && decodesPiecewise(chunk, outcome.Data)) {
                piecewise = true;
                outcome.Step = EStep::Save;
            }
        }
    };

    // Outcomes come back in batches (a future watcher cost several events per chunk, and a
    // package of many small files made this thread handle a hundred thousand of them).
    // A step's future is kept until its task has returned, not only until its outcome is here:
    // the task still wakes this object after handing the outcome over.
    m_RunningSteps.erase(
        std::remove_if(m_RunningSteps.begin(), m_RunningSteps.end(),
                       [](const QFuture<void>& step) { return step.isFinished(); }),
        m_RunningSteps.end());
    m_RunningSteps.push_back(QtConcurrent::run([this, work, Url, Decompressed] {
        m_StepResults.add({Url, Decompressed, work()});
    }));
}

TPackageFileDownloader::EStep TPackageFileDownloader::nextStep(EStep Step, bool Unpack)
{
    switch (Step) {
    case EStep::CheckPacked:
        return Unpack ? EStep::Decompress : EStep::Verify;
    case EStep::Decompress:
        return EStep::Verify;
    case EStep::Verify:
    case EStep::Save:
        break;
    }
    return EStep::Save;
}

void TPackageFileDownloader::onStepResults()
{
    for (TStepResult& result : m_StepResults.take())
        m_StepBacklog.push_back(std::move(result));
    // A bounded share per turn of the event loop: when many steps end at once, this thread's
    // timers and replies come between the shares, not after all of them.
    for (int handled = 0; handled < kStepResultsPerTurn && !m_StepBacklog.empty(); ++handled) {
        const TStepResult result = std::move(m_StepBacklog.front());
        m_StepBacklog.pop_front();
        onStepFinished(result.Outcome.Step, result.Url, result.Outcome,
                       result.Decompressed || result.Outcome.Step != EStep::Decompress);
    }
    if (!m_StepBacklog.empty())
        QMetaObject::invokeMethod(this, &TPackageFileDownloader::onStepResults,
                                  Qt::QueuedConnection);
}

void TPackageFileDownloader::onStepFinished(EStep Step, const QUrl& Url,
                                            const TStepOutcome& Outcome, bool Decompressed)
{
    if (TRunChunk* chunk = findChunk(Url))
        chunk->Working = false;
    if (m_bEnding) {
        releaseUrl(Url);
        if (TRunChunk* chunk = findChunk(Url))
            endChunk(*chunk);
        emitFinishedSignalWhenNoMoreFilesAreOutstanding();
        return;
    }
    const bool failed = !Outcome.Error.isEmpty();
    switch (Step) {
    case EStep::CheckPacked:
        // Only a failed check comes back: one that passes goes on to the next step in its task.
        // Another place may serve the right body; this one is asked again like for a body whose
        // decoded bytes fail their check.
        qWarning().noquote() << "The body from" << Url.toString() << "is not the one its document"
                             << "describes:" << Outcome.Error;
        m_pDownloadPool->reportBadBody(Url, QStringLiteral("(the body failed its check)"));
        releaseUrl(Url);
        retryOrGiveUp(Url,
                      QStringLiteral("Verify of %1 failed: %2").arg(Url.toString(), Outcome.Error));
        return;
    case EStep::Decompress:
        if (!failed) {
            processDownloadedData(Url, Outcome.Data, true, false);
            return;
        }
        // A body that does not decode would not decode the next time either, unless another
        // place serves it: the bytes may have been damaged on the way from this one.
        if (m_pDownloadPool->hasMirrors()) {
            m_pDownloadPool->reportBadBody(Url, QStringLiteral("(the body did not decode)"));
            releaseUrl(Url);
            retryOrGiveUp(Url, QStringLiteral("Failed to decompress file downloaded from %1: %2")
                                   .arg(Url.toString(), Outcome.Error));
            return;
        }
        releaseUrl(Url);
        m_bAtLeastOneDownloadFailed = true;
        endRunAtOnce(QStringLiteral("Failed to decompress file downloaded from %1: %2")
                         .arg(Url.toString(), Outcome.Error));
        return;
    case EStep::Verify:
        if (!failed) {
            processDownloadedData(Url, Outcome.Data, Decompressed, true);
            return;
        }
        qWarning() << "Failed to verify file downloaded from" << Url;
        m_pDownloadPool->reportBadBody(Url, QStringLiteral("(the body failed its check)"));
        releaseUrl(Url);
        retryOrGiveUp(Url, QStringLiteral("Verify of %1 failed.").arg(Url.toString()));
        return;
    case EStep::Save:
        if (failed) {
            releaseUrl(Url);
            m_bAtLeastOneSavingOperationFailed = true;
            if (!m_SaveFailure.isKnown())
                m_SaveFailure = Outcome.Failure;
            endRunAtOnce(QStringLiteral("Failed to save file downloaded from %1: %2")
                             .arg(Url.toString(), Outcome.Error));
            return;
        }
        releaseUrl(Url);
        finishChunk(Url);
        return;
    }
}

void TPackageFileDownloader::finishChunk(const QUrl& Url)
{
    if (TRunChunk* chunk = findChunkInProgress(Url)) {
        endChunk(*chunk);
        // One line per chunk: a package of many small files writes tens of thousands, each
        // line made on this thread.
        qInfo() << "Chunk written:" << Url << threadSuffix;
    }
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::onDownloadFailed(const QUrl& Url, QNetworkReply::NetworkError Code,
                                              const QString& ErrorString)
{
    qInfo() << "onDownloadFailed " << Url << Code << threadSuffix;
    releaseUrl(Url);
    if (!findChunkInProgress(Url))
        return;
    const QString message =
        QStringLiteral("Download of %1 failed: %2").arg(Url.toString(), ErrorString);
    // The server says the container is not there: asking it again would get the same answer,
    // though a mirror may have it.
    if ((Code == QNetworkReply::ContentNotFoundError || Code == QNetworkReply::ContentGoneError) &&
        !m_pDownloadPool->hasMirrors()) {
        m_bAtLeastOneDownloadFailed = true;
        endRunAtOnce(message);
        return;
    }
    retryOrGiveUp(Url, message);
}

void TPackageFileDownloader::retryOrGiveUp(const QUrl& Url, const QString& FinalMessage)
{
    TRunChunk* found = findChunkInProgress(Url);
    if (!found)
        return;
    TRunChunk& chunk = *found;
    if (chunk.RetryCount >= kMaxAttempts - 1) {
        m_bAtLeastOneDownloadFailed = true;
        endRunAtOnce(FinalMessage);
        return;
    }
    qInfo() << "Retry " << Url << threadSuffix;
    ++chunk.RetryCount;
    m_pDownloadPool->queueDownload(Url, maxBodyBytes(chunk.Piece));
}

void TPackageFileDownloader::setMaxDownloadRate(qint64 BytesPerSecond)
{
    m_pDownloadPool->setMaxDownloadRate(BytesPerSecond);
}

void TPackageFileDownloader::setMirrors(std::shared_ptr<::shared::TMirrorSet> pMirrors)
{
    m_pDownloadPool->setMirrors(std::move(pMirrors));
}

void TPackageFileDownloader::stop()
{
    if (m_Run.ChunksInProgress == 0 || m_bStopped)
        return;
    m_bStopped = true;
    endRunAtOnce(QStringLiteral("Download stopped by the player"));
}

void TPackageFileDownloader::endRunAtOnce(const QString& Reason)
{
    if (m_bStopped)
        qInfo().noquote() << Reason << threadSuffix;
    else
        qCritical().noquote() << Reason;
    if (!m_bEnding && !m_bStopped)
        qCritical() << "The installation ends without waiting for its other downloads"
                    << threadSuffix;
    m_bEnding = true;
    m_NextToQueue = m_Run.Chunks.size();
    for (TRunChunk& chunk : m_Run.Chunks) {
        if (!chunk.InProgress || chunk.Working)
            continue;
        releaseUrl(chunk.Piece.Url);
        endChunk(chunk);
    }
    // What is still on the line would only be thrown away: the pool drops it without a word.
    m_pDownloadPool->abortAll();
    emitFinishedSignalWhenNoMoreFilesAreOutstanding();
}

void TPackageFileDownloader::emitFinishedSignalWhenNoMoreFilesAreOutstanding()
{
    if (m_Run.ChunksInProgress > 0)
        return;
    qInfo().nospace() << "emitFinishedSignalWhenNoMoreFilesAreOutstanding ActiveDownloads: "
                      << m_pDownloadPool->getNumberOfActiveDownloads()
                      << " AtLeastOneDownloadFailed " << boolText(m_bAtLeastOneDownloadFailed)
                      << " AtLeastOneSavingOperationFailed "
                      << boolText(m_bAtLeastOneSavingOperationFailed) << threadSuffix;

    const TParkingStatistics parking = parkingStatistics();
    qInfo() << "Chunks parked before their turn: " << parking.Parked
            << " at most at once: " << parking.MostHeldAtOnce << threadSuffix;
    m_RateSampleCount = 0;
    m_ProgressTimer.stop();
    // Written bytes are unpacked bytes: measured against the packed total, a compressed
    // package would end above 100 %.
    emit progress(m_DownloadedSum, m_Run.TotalPacked, m_WrittenSum, m_Run.TotalUnpacked);
    releaseRun();
    m_bEnding = false;

    if (m_bStopped)
        emit downloadFailed(EPackageDownloaderError::Stopped);
    else if (m_bAtLeastOneDownloadFailed)
        emit downloadFailed(EPackageDownloaderError::DownloadFailed);
    else if (m_bAtLeastOneSavingOperationFailed) {
        if (m_SaveFailure.isKnown())
            emit savingFailed(m_SaveFailure);
        emit downloadFailed(EPackageDownloaderError::SavingOperationFailed);
    } else
        emit downloadCompleted();
}

void TPackageFileDownloader::releaseUrl(const QUrl& Url)
{
    m_pDownloadPool->releaseDownload(Url);
    // From the event loop: the handlers that release a URL go on working on the run's lists.
    if (m_bTopUpScheduled || m_NextToQueue >= m_Run.Chunks.size())
        return;
    m_bTopUpScheduled = true;
    QMetaObject::invokeMethod(this, &TPackageFileDownloader::queueMoreDownloads,
                              Qt::QueuedConnection);
}

void TPackageFileDownloader::onDownloadProgress(const QUrl& Url, TFileSize DownloadedBytes)
{
    if (TRunChunk* chunk = findChunkInProgress(Url)) {
        m_DownloadedSum = m_DownloadedSum - chunk->DownloadedBytes + DownloadedBytes;
        chunk->DownloadedBytes = DownloadedBytes;
    }
}

void TPackageFileDownloader::onWrittenReports()
{
    for (const auto& [url, bytes] : m_WrittenReports.take()) {
        if (TRunChunk* chunk = findChunk(url)) {
            m_WrittenSum = m_WrittenSum - chunk->WrittenBytes + bytes;
            chunk->WrittenBytes = bytes;
        }
    }
}

void TPackageFileDownloader::onProgressTick()
{
    const double delta = double(m_DownloadedSum) - double(m_PreviousDownloadedSum);
    m_PreviousDownloadedSum = m_DownloadedSum;
    if (m_RateSampleCount == 0) {
        m_RateSampleCount = 1;
        m_RateMean = delta;
    } else {
        m_RateMean = (m_RateMean * m_RateSampleCount + delta) / (m_RateSampleCount + 1);
        ++m_RateSampleCount;
        // Restart the average now and then, so the rate follows changes in speed.
        if (m_RateSampleCount > 30) {
            m_RateSampleCount = 1;
            m_RateMean = double(qint64(m_RateMean));
        }
    }

    emit progress(m_DownloadedSum, m_Run.TotalPacked, m_WrittenSum, m_Run.TotalUnpacked);
}

void TPackageFileDownloader::checkPackedData(const TChunkToDownload& Chunk,
                                             const QByteArray& Data) const
{
    // An older document states no packed digest: its bodies are checked once decoded, as before.
    if (Chunk.PackedHash.isEmpty())
        return;
    // A body that is the file's bytes as they are has one digest for both, checked next.
    if (!Chunk.Unpack && Chunk.PackedHash == Chunk.UnpackedHash)
        return;
    // Compared before any decoder runs: a swapped body of a few bytes could otherwise make a
    // decoder ask for as much memory as its header or model claims, on every attempt.
    if (Chunk.PackedSize != 0 && TFileSize(Data.size()) != Chunk.PackedSize)
        throw std::runtime_error(QStringLiteral("the body has %1 bytes, its document says %2")
                                     .arg(Data.size())
                                     .arg(Chunk.PackedSize)
                                     .toStdString());
    if (::shared::sha256(Data) != Chunk.PackedHash)
        throw std::runtime_error("the body's digest differs from its document's");
}

bool TPackageFileDownloader::decodesPiecewise(const TChunkToDownload& Chunk, const QByteArray& Data)
{
    if (!Chunk.Unpack || Chunk.UnpackedSize < kPiecewiseFrom || Chunk.TargetFiles.empty())
        return false;
    // Only into files downloaded whole: a chunk of an assembled file may have to be parked for a
    // later position, and parking holds the decoded bytes.
    for (const std::shared_ptr<TChunkedFileState>& target : Chunk.TargetFiles)
        if (target->Chunks.size() != 1)
            return false;
    return ::shared::isPiecewiseDecodable(Data);
}

QByteArray TPackageFileDownloader::decompressDownloadedData(const TChunkToDownload& Chunk,
                                                            const QByteArray& Data) const
{
    // The document's size, not the container's, decides how much is allocated: a container is
    // only as trustworthy as the server it came from.
    return ::shared::decodeContainerStrict(Data, Chunk.UnpackedSize);
}

QByteArray TPackageFileDownloader::verifyDownloadedData(const TChunkToDownload& Chunk,
                                                        const QByteArray& Data) const
{
    if (::shared::sha256(Data) == Chunk.UnpackedHash)
        return Data;
    qWarning() << "saveDownloadedData failed: invalid hash";
    throw std::runtime_error(
        QStringLiteral("verify of url '%1' failed").arg(Chunk.Url.toString()).toStdString());
}

} // namespace orvik::launcher
