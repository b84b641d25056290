#include "shared/network/downloadpool.h"

#include "shared/network/gzipinflater.h"
#include "shared/network/mirrorset.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/network/qnetworkreplywrapper.h"

#include <QDebug>
#include <QNetworkRequest>
#include <QPointer>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace shared {

namespace {

// What Qt's manager opens to one host at most, whatever the client asks for.
constexpr int kConnectionsPerManager = 6;
// How often the bases' rates are compared: the rates are sampled by the second.
constexpr int kSlowCheckMs = 1000;

} // namespace

TDownloadPool::TDownloadPool(int MaxConcurrentDownloads,
                             std::shared_ptr<QNetworkAccessManagerWrapper> pNetworkAccessManager,
                             bool ReleaseSlotOnFinish)
    : m_pNetworkAccessManager(std::move(pNetworkAccessManager))
    , m_MaxConcurrentDownloads(MaxConcurrentDownloads)
    , m_ReleaseSlotOnFinish(ReleaseSlotOnFinish)
{
    // Follow redirects, but never from HTTPS down to HTTP. Siblings copy the policy.
    if (m_pNetworkAccessManager) {
        m_pNetworkAccessManager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
        m_Managers.push_back({m_pNetworkAccessManager, 0});
    }
    m_ResumeTimer.setSingleShot(true);
    // A coarse timer may fire late by a twentieth of its interval; the limit would drift by as
    // much wherever the bucket runs full.
    m_ResumeTimer.setTimerType(Qt::PreciseTimer);
    connect(&m_ResumeTimer, &QTimer::timeout, this, &TDownloadPool::onResumeThrottledReads);
    m_SlowCheckTimer.setInterval(kSlowCheckMs);
    connect(&m_SlowCheckTimer, &QTimer::timeout, this, &TDownloadPool::onCheckSlowBases);
}

// Running replies are not aborted here: they go with their manager, the siblings with this pool
// and the given one with whoever else holds it. Their handlers end first, so none runs into a
// pool half destroyed.
TDownloadPool::~TDownloadPool()
{
    for (QNetworkReplyWrapper* pReply : qAsConst(m_ActiveDownloads))
        if (pReply)
            disconnect(pReply, nullptr, this, nullptr);
}

void TDownloadPool::queueDownload(const QUrl& Url)
{
    queueDownload(Url, kNoBodyLimit);
}

void TDownloadPool::queueDownload(const QUrl& Url, qint64 MaxBodyBytes)
{
    queueDownload(Url, MaxBodyBytes, EAcceptedEncoding::Identity);
}

void TDownloadPool::queueDownload(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted)
{
    // Checked in its encoded form: the display form leaves spaces bare, which strict parsing
    // refuses, and every per-user path of the launcher has one.
    const QUrl strict = QUrl::fromEncoded(Url.toEncoded(), QUrl::StrictMode);
    if (!strict.isValid() || strict.isRelative()) {
        emit failed(Url, QNetworkReply::ProtocolInvalidOperationError,
                    QStringLiteral("Invalid URL"));
        return;
    }
    enqueue(Url, MaxBodyBytes, Accepted, false);
}

void TDownloadPool::queueDownloadWithPriority(const QUrl& Url)
{
    enqueue(Url, kNoBodyLimit, EAcceptedEncoding::Identity, true);
}

void TDownloadPool::enqueue(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted,
                            bool AtFront)
{
    m_WaitingDownloads.remove(Url);
    if (m_ActiveDownloads.contains(Url))
        return;
    const TQueuedDownload place{Url, m_NextTicket++};
    if (AtFront)
        m_QueuedDownloads.push_front(place);
    else
        m_QueuedDownloads.push_back(place);
    m_WaitingDownloads.insert(Url, {place.Ticket, std::max(MaxBodyBytes, kNoBodyLimit), Accepted});
    dropLeftBehindPlaces();
    startQueuedDownloads();
}

// A client that keeps moving waiting URLs would otherwise grow the queue without bound.
void TDownloadPool::dropLeftBehindPlaces()
{
    if (m_QueuedDownloads.size() <= 2 * size_t(m_WaitingDownloads.size()) + 64)
        return;
    m_QueuedDownloads.erase(
        std::remove_if(m_QueuedDownloads.begin(), m_QueuedDownloads.end(),
                       [this](const TQueuedDownload& place) {
                           const auto it = m_WaitingDownloads.constFind(place.Url);
                           return it == m_WaitingDownloads.constEnd() || it->Ticket != place.Ticket;
                       }),
        m_QueuedDownloads.end());
}

void TDownloadPool::setMaxConcurrentDownloads(int MaxConcurrentDownloads)
{
    m_MaxConcurrentDownloads = MaxConcurrentDownloads;
    if (MaxConcurrentDownloads > 0)
        startQueuedDownloads();
}

int TDownloadPool::getMaxConcurrentDownloads() const
{
    return m_MaxConcurrentDownloads;
}

int TDownloadPool::getNumberOfActiveDownloads() const
{
    return m_ActiveDownloads.size();
}

std::size_t TDownloadPool::getNumberOfOutstandingDownloads() const
{
    return static_cast<std::size_t>(m_WaitingDownloads.size()) +
           static_cast<std::size_t>(m_ActiveDownloads.size());
}

void TDownloadPool::setCache(QAbstractNetworkCache* pCache)
{
    m_bCacheSet = pCache != nullptr;
    m_pNetworkAccessManager->setCache(pCache);
}

std::size_t TDownloadPool::pickManager()
{
    const std::size_t wanted =
        m_bCacheSet
            ? 1
            : std::size_t(std::max(1, (m_MaxConcurrentDownloads + kConnectionsPerManager - 1) /
                                          kConnectionsPerManager));
    while (m_Managers.size() < wanted) {
        auto sibling = m_Managers.front().pManager->createSibling();
        if (!sibling)
            break;
        m_Managers.push_back({std::move(sibling), 0});
    }
    // Spreading evenly, rather than filling one manager first, keeps the connections each
    // opens to a host at the share of the bound it serves: none of them opens a spare one.
    std::size_t best = 0;
    for (std::size_t i = 1; i < std::min(wanted, m_Managers.size()); ++i)
        if (m_Managers[i].Running < m_Managers[best].Running)
            best = i;
    return best;
}

void TDownloadPool::setMirrors(std::shared_ptr<TMirrorSet> pMirrors)
{
    m_pMirrors = pMirrors && pMirrors->size() > 1 ? std::move(pMirrors) : nullptr;
    m_MirrorClock.start();
}

bool TDownloadPool::hasMirrors() const
{
    return m_pMirrors != nullptr;
}

QUrl TDownloadPool::chooseAddress(const QUrl& Url)
{
    if (!m_pMirrors)
        return Url;
    const int avoid = m_FailedBaseOf.value(Url, -1);
    m_FailedBaseOf.remove(Url);
    const int base = m_pMirrors->chooseBase(avoid, m_MirrorClock.elapsed());
    m_BaseOf.insert(Url, base);
    return m_pMirrors->onBase(Url, base);
}

void TDownloadPool::noteFailure(const QUrl& Url, const QString& Reason)
{
    if (!m_pMirrors)
        return;
    const auto served = m_BaseOf.constFind(Url);
    if (served == m_BaseOf.constEnd())
        return;
    const int base = served.value();
    m_FailedBaseOf.insert(Url, base);
    qWarning().noquote() << "Download of" << Url.toString() << "failed on base"
                         << m_pMirrors->describe(base) << Reason;
    const bool setAside = m_pMirrors->reportFailure(base, m_MirrorClock.elapsed());
    if (setAside)
        qWarning().noquote() << "Base" << m_pMirrors->describe(base) << "set aside for"
                             << TMirrorSet::kSetAsideMs / 1000 << "s after"
                             << TMirrorSet::kFailuresBeforeSetAside << "failures in a row";
    emit failedOnBase(Url, m_pMirrors->describe(base), Reason, setAside);
    if (m_ReleaseSlotOnFinish)
        m_BaseOf.remove(Url);
}

void TDownloadPool::noteSuccess(const QUrl& Url)
{
    if (!m_pMirrors)
        return;
    const auto served = m_BaseOf.constFind(Url);
    if (served != m_BaseOf.constEnd())
        m_pMirrors->reportSuccess(served.value());
    m_FailedBaseOf.remove(Url);
    if (m_ReleaseSlotOnFinish)
        m_BaseOf.remove(Url);
}

void TDownloadPool::onCheckSlowBases()
{
    if (!m_pMirrors || m_Running.isEmpty()) {
        m_SlowCheckTimer.stop();
        return;
    }
    const int slow = m_pMirrors->setAsideSlowBase(m_MirrorClock.elapsed());
    if (slow < 0)
        return;
    qWarning().noquote() << "Base" << m_pMirrors->describe(slow) << "set aside for"
                         << TMirrorSet::kSetAsideMs / 1000 << "s after"
                         << TMirrorSet::kSlowWindowMs / 1000 << "s at under"
                         << QStringLiteral("1/%1").arg(TMirrorSet::kSlowFactor)
                         << "of the others' rate";
    moveOffBase(slow);
}

void TDownloadPool::moveOffBase(int Base)
{
    QList<QUrl> moving;
    for (auto it = m_Running.cbegin(); it != m_Running.cend(); ++it)
        if (m_BaseOf.value(it.key(), 0) == Base)
            moving.append(it.key());
    const QString reason = QStringLiteral("(far slower than the other places)");
    bool first = true;
    for (const QUrl& url : qAsConst(moving)) {
        const TRunningDownload running = m_Running.take(url);
        m_pMirrors->noteEnded(Base, m_MirrorClock.elapsed());
        // Its handlers go with the connection: the reply reports nothing, and the bytes it
        // brought are dropped with its body.
        if (QNetworkReplyWrapper* pReply = m_ActiveDownloads.take(url)) {
            disconnect(pReply, nullptr, this, nullptr);
            --m_Managers[running.Manager].Running;
            pReply->abort();
            pReply->deleteLater();
        }
        qWarning().noquote() << "Download of" << url.toString() << "moved off base"
                             << m_pMirrors->describe(Base) << reason;
        emit failedOnBase(url, m_pMirrors->describe(Base), reason, std::exchange(first, false));
        m_FailedBaseOf.insert(url, Base);
        startDownload(url, running.MaxBodyBytes, running.Accepted);
        // Where it starts over, it starts from nothing.
        emit progress(url, 0);
    }
}

void TDownloadPool::reportBadBody(const QUrl& Url, const QString& Reason)
{
    noteFailure(Url, Reason);
}

void TDownloadPool::releaseDownload(const QUrl& Url)
{
    m_BaseOf.remove(Url);
    if (m_ActiveDownloads.remove(Url) > 0)
        startQueuedDownloads();
}

void TDownloadPool::abortAll()
{
    m_QueuedDownloads.clear();
    m_WaitingDownloads.clear();
    m_ThrottledReads.clear();
    m_ResumeTimer.stop();
    for (auto it = m_Running.cbegin(); it != m_Running.cend(); ++it)
        m_pMirrors->noteEnded(m_BaseOf.value(it.key(), 0), m_MirrorClock.elapsed());
    m_Running.clear();
    m_SlowCheckTimer.stop();
    m_BaseOf.clear();
    m_FailedBaseOf.clear();
    // Emptied first: the error and finished an abort sends find nothing left to report.
    const QMap<QUrl, QNetworkReplyWrapper*> running = std::exchange(m_ActiveDownloads, {});
    for (QNetworkReplyWrapper* pReply : running)
        if (pReply)
            pReply->abort();
}

void TDownloadPool::startQueuedDownloads()
{
    while (!m_QueuedDownloads.empty() &&
           getNumberOfActiveDownloads() < getMaxConcurrentDownloads()) {
        const TQueuedDownload place = m_QueuedDownloads.front();
        m_QueuedDownloads.pop_front();
        const auto waiting = m_WaitingDownloads.find(place.Url);
        if (waiting == m_WaitingDownloads.end() || waiting->Ticket != place.Ticket)
            continue; // left behind by a move
        const QUrl url = place.Url;
        const qint64 maxBodyBytes = waiting->MaxBodyBytes;
        const EAcceptedEncoding accepted = waiting->Accepted;
        m_WaitingDownloads.erase(waiting);

        startDownload(url, maxBodyBytes, accepted);
    }
}

void TDownloadPool::startDownload(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted)
{
    QNetworkRequest request(chooseAddress(Url));
    request.setTransferTimeout(m_TransferTimeoutMs);
    setAcceptedEncoding(request, Accepted);
    const std::size_t manager = pickManager();
    QNetworkReplyWrapper* pReply = m_Managers[manager].pManager->get(request);
    ++m_Managers[manager].Running;
    if (m_MaxDownloadRate > 0)
        pReply->setReadBufferSize(readBufferSize());

    // The queued URL travels with the handlers, so results are reported under it whatever
    // redirects the reply followed. The body lives as long as the handlers.
    const auto body = std::make_shared<TBody>();
    body->Accepted = Accepted;
    connect(pReply, &QNetworkReplyWrapper::finished, this,
            [this, Url, pReply, MaxBodyBytes, body, manager] {
                --m_Managers[manager].Running;
                onReplyFinished(Url, pReply, MaxBodyBytes, body);
            });
    connect(pReply, QOverload<QNetworkReply::NetworkError>::of(&QNetworkReplyWrapper::error), this,
            [this, Url, pReply](QNetworkReply::NetworkError) { onReplyError(Url, pReply); });
    connect(pReply, &QNetworkReplyWrapper::progress, this, [this, Url, MaxBodyBytes](qint64 Bytes) {
        // A body past its limit is about to fail; its count would overstate progress.
        if (MaxBodyBytes < 0 || Bytes <= MaxBodyBytes)
            emit progress(Url, Bytes);
    });
    connect(pReply, &QNetworkReplyWrapper::readyRead, this,
            [this, Url, pReply, MaxBodyBytes, body] {
                onReplyDataArrived(Url, pReply, MaxBodyBytes, body, false);
            });

    m_ActiveDownloads.insert(Url, pReply);
    if (m_pMirrors) {
        const int base = m_BaseOf.value(Url, 0);
        m_pMirrors->noteStarted(base, m_MirrorClock.elapsed());
        m_Running.insert(Url, {MaxBodyBytes, Accepted, manager});
        if (!m_SlowCheckTimer.isActive())
            m_SlowCheckTimer.start();
    }
}

// Checking the reply, not just the URL, matters when a client queues a URL again from its
// failed handler: the old reply's late finished must neither report twice nor take the slot
// of the new download.
bool TDownloadPool::isUnreported(const QUrl& Url, const QNetworkReplyWrapper* pReply) const
{
    const auto it = m_ActiveDownloads.constFind(Url);
    return it != m_ActiveDownloads.constEnd() && it.value() == pReply;
}

void TDownloadPool::markReported(const QUrl& Url)
{
    if (m_Running.remove(Url) > 0)
        m_pMirrors->noteEnded(m_BaseOf.value(Url, 0), m_MirrorClock.elapsed());
    if (m_ReleaseSlotOnFinish)
        m_ActiveDownloads.remove(Url);
    else
        m_ActiveDownloads[Url] = nullptr;
}

// Qt reports a reply's error before its finished; the failure is reported here once and the
// later finished only cleans up.
void TDownloadPool::onReplyError(const QUrl& Url, QNetworkReplyWrapper* pReply)
{
    if (!isUnreported(Url, pReply))
        return;
    markReported(Url);
    noteFailure(Url, pReply->errorString());
    emit failed(Url, pReply->error(), pReply->errorString());
    if (m_ReleaseSlotOnFinish)
        startQueuedDownloads();
}

void TDownloadPool::onReplyFinished(const QUrl& Url, QNetworkReplyWrapper* pReply,
                                    qint64 MaxBodyBytes, const std::shared_ptr<TBody>& pBody)
{
    TBody& Body = *pBody;
    if (isUnreported(Url, pReply)) {
        if (pReply->error() != QNetworkReply::NoError) {
            markReported(Url);
            noteFailure(Url, pReply->errorString());
            emit failed(Url, pReply->error(), pReply->errorString());
            if (m_ReleaseSlotOnFinish)
                startQueuedDownloads();
        } else if (onReplyDataArrived(Url, pReply, MaxBodyBytes, pBody, true)) {
            if (Body.pInflater && !Body.pInflater->isComplete()) {
                failBody(Url, pReply, Body.pInflater->describe(TGzipInflater::EStatus::Going));
            } else {
                markReported(Url);
                noteSuccess(Url);
                // Shrinking keeps the buffer in place; the receiver holds the only reference.
                QByteArray bytes;
                if (Body.pInflater) {
                    bytes = Body.pInflater->takeInflated();
                } else {
                    bytes = std::move(Body.Bytes);
                    bytes.resize(int(Body.Received));
                }
                Body = TBody();
                emit success(Url, bytes);
                if (m_ReleaseSlotOnFinish)
                    startQueuedDownloads();
            }
        }
    }
    Body = TBody();
    pReply->deleteLater();
}

namespace {

constexpr qint64 kUntrustedUpFront = 64 * 1024 * 1024;
// What one QByteArray can hold.
constexpr qint64 kLargestBody = std::numeric_limits<int>::max() - 64;
// The piece of a gzip body read at a time: its compressed bytes go on to the inflater at once.
constexpr qint64 kGzipPiece = 64 * 1024;

// Qt throws std::bad_alloc when the memory is not there; that must not reach the event loop.
template <typename TBody> bool reserve(TBody& Body, qint64 Size)
{
    if (Size <= Body.Bytes.size())
        return true;
    try {
        Body.Bytes.resize(int(Size));
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

QString tooLongReason(qint64 MaxBodyBytes, qint64 Bytes)
{
    return MaxBodyBytes >= 0 && Bytes > MaxBodyBytes
               ? QStringLiteral("The body is longer than the %1 bytes expected").arg(MaxBodyBytes)
               : QStringLiteral("The body of at least %1 bytes is too large to hold in memory")
                     .arg(Bytes);
}

} // namespace

// Reads what has arrived at once, rather than letting the reply collect the whole body: the
// reply would keep it in pieces and copy them into one array only at the end, holding the body
// twice at that moment. Checked on every arrival rather than on progress, which Qt sends at
// most ten times a second: on a fast link many megabytes arrive between two reports.
bool TDownloadPool::onReplyDataArrived(const QUrl& Url, QNetworkReplyWrapper* pReply,
                                       qint64 MaxBodyBytes, const std::shared_ptr<TBody>& pBody,
                                       bool Final)
{
    TBody& Body = *pBody;
    if (!isUnreported(Url, pReply))
        return false;
    const qint64 limit = MaxBodyBytes >= 0 ? std::min(MaxBodyBytes, kLargestBody) : kLargestBody;
    if (!Body.Sized && !startBody(Url, pReply, MaxBodyBytes, limit, Body))
        return false;
    const qint64 available = pReply->bytesAvailable();
    if (available <= 0 || (Body.Throttled && !Final))
        return true;
    if (m_MaxDownloadRate > 0 && !Final) {
        refillTokens();
        if (m_Tokens <= 0) {
            // A resumed read that finds the bucket empty again waits at the back: the replies
            // take turns.
            Body.Throttled = true;
            m_ThrottledReads.push_back({Url, pReply, MaxBodyBytes, pBody});
            if (!m_ResumeTimer.isActive())
                m_ResumeTimer.start(int(std::ceil(-m_Tokens * 1000.0 / double(m_MaxDownloadRate))) +
                                    1);
            return true;
        }
    }
    qint64 read = 0;
    if (Body.pInflater ? !readGzip(Url, pReply, available, Body, read)
                       : !readRaw(Url, pReply, MaxBodyBytes, limit, available, Body, read))
        return false;
    if (m_MaxDownloadRate > 0)
        m_Tokens -= double(read);
    if (m_pMirrors)
        m_pMirrors->noteBytes(m_BaseOf.value(Url, 0), read, m_MirrorClock.elapsed());
    return true;
}

bool TDownloadPool::startBody(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                              qint64 Limit, TBody& Body)
{
    Body.Sized = true;
    // An error page is read only to be dropped with the error, which is what is reported: it is
    // neither judged by its encoding nor inflated.
    if (pReply->httpStatus() < 300) {
        const TBodyEncoding encoding =
            judgeContentEncoding(pReply->contentEncoding(), Body.Accepted);
        if (!encoding.Refusal.isEmpty()) {
            failBody(Url, pReply, encoding.Refusal);
            return false;
        }
        if (encoding.bGzip) {
            Body.pInflater = std::make_shared<TGzipInflater>(Limit);
            return true;
        }
    }
    const qint64 declared = pReply->declaredBodySize();
    if (declared > Limit) {
        failBody(Url, pReply, tooLongReason(MaxBodyBytes, declared));
        return false;
    }
    // A caller without a limit of its own trusts the server's word only so far: a declared
    // length is not a body yet.
    const qint64 upFront = MaxBodyBytes >= 0 ? declared : std::min(declared, kUntrustedUpFront);
    if (!reserve(Body, upFront)) {
        failBody(Url, pReply, tooLongReason(MaxBodyBytes, declared));
        return false;
    }
    return true;
}

bool TDownloadPool::readRaw(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                            qint64 Limit, qint64 Available, TBody& Body, qint64& Read)
{
    const qint64 needed = Body.Received + Available;
    // Only a body of undeclared (or untrusted) length grows; doubling keeps its copies few.
    if (needed > Limit ||
        (needed > Body.Bytes.size() &&
         !reserve(Body, std::max(needed, std::min(Limit, qint64(Body.Bytes.size()) * 2))))) {
        failBody(Url, pReply, tooLongReason(MaxBodyBytes, needed));
        return false;
    }
    Read = std::max<qint64>(pReply->read(Body.Bytes.data() + Body.Received, Available), 0);
    Body.Received += Read;
    return true;
}

bool TDownloadPool::readGzip(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 Available,
                             TBody& Body, qint64& Read)
{
    char piece[kGzipPiece];
    while (Read < Available) {
        const qint64 got = pReply->read(piece, std::min(kGzipPiece, Available - Read));
        if (got <= 0)
            break;
        Read += got;
        const TGzipInflater::EStatus status = Body.pInflater->feed(piece, got);
        if (status != TGzipInflater::EStatus::Going) {
            failBody(Url, pReply, Body.pInflater->describe(status));
            return false;
        }
    }
    return true;
}

void TDownloadPool::setMaxDownloadRate(qint64 BytesPerSecond)
{
    m_MaxDownloadRate = std::max<qint64>(BytesPerSecond, 0);
    m_Tokens = std::min(m_Tokens, 0.0);
    m_RefillClock.start();
    for (QNetworkReplyWrapper* pReply : qAsConst(m_ActiveDownloads))
        if (pReply)
            pReply->setReadBufferSize(m_MaxDownloadRate > 0 ? readBufferSize() : 0);
    // Reads held back under the old limit go by the new one.
    onResumeThrottledReads();
}

// Small against a second's worth, so the limit holds over short spans, and so the bytes that
// arrive beyond it wait in the network rather than in memory; large enough that a read is not
// a syscall's worth of bytes.
qint64 TDownloadPool::readBufferSize() const
{
    return std::clamp<qint64>(m_MaxDownloadRate / 16, 16 * 1024, 4 * 1024 * 1024);
}

void TDownloadPool::refillTokens()
{
    const double seconds = double(m_RefillClock.nsecsElapsed()) / 1e9;
    m_RefillClock.start();
    // What collects while nothing reads is a burst later: a tenth of a second's worth at most.
    const double capacity = std::max(double(m_MaxDownloadRate) / 10, double(readBufferSize()));
    m_Tokens = std::min(capacity, m_Tokens + seconds * double(m_MaxDownloadRate));
}

void TDownloadPool::onResumeThrottledReads()
{
    m_ResumeTimer.stop();
    std::deque<TThrottledRead> waiting;
    waiting.swap(m_ThrottledReads);
    for (const TThrottledRead& read : waiting) {
        read.pBody->Throttled = false;
        if (read.pReply)
            onReplyDataArrived(read.Url, read.pReply.data(), read.MaxBodyBytes, read.pBody, false);
    }
}

void TDownloadPool::failBody(const QUrl& Url, QNetworkReplyWrapper* pReply, const QString& Reason)
{
    markReported(Url);
    // Its error and finished come at once and find the download reported; finished releases it.
    pReply->abort();
    noteFailure(Url, Reason);
    emit failed(Url, QNetworkReply::UnknownContentError, Reason);
    if (m_ReleaseSlotOnFinish)
        startQueuedDownloads();
}

} // namespace shared
