#pragma once

#include "shared/network/contentencoding.h"
#include "shared/network/networkaccessmanagerauthenticationhandler.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <deque>
#include <memory>
#include <vector>

class QAbstractNetworkCache;

namespace shared {

class QNetworkAccessManagerWrapper;
class QNetworkReplyWrapper;
class TGzipInflater;
class TMirrorSet;

// Runs HTTP GET downloads, at most a bounded number at a time, keyed by URL: one URL is never
// downloaded twice at once by one pool. Every started download reports exactly once, through
// success or failed, under the URL it was queued with.
//
// Every request names the content encoding it accepts, identity unless its caller asks for
// gzip; a body in an encoding that was not asked for fails unread. Gzip is inflated here, and
// a body's limit counts the inflated bytes.
//
// With automatic release a URL gives up its slot as soon as it has reported. With manual
// release it keeps the slot until releaseDownload, so the bound also limits the clients'
// processing of the results.
//
// Each download runs on a connection of its own: Qt's manager opens only six to one host, so
// above that the pool spreads its downloads over siblings of the manager it was given.
//
// Lives on one thread; every call and signal happens there.
class TDownloadPool : public QObject
{
    Q_OBJECT

public:
    // A request that receives no bytes for this long fails like any network error, so a stalled
    // connection cannot hang its client.
    static constexpr int kDefaultTransferTimeoutMs = 60 * 1000;
    // For queueDownload: the body may be as long as it likes.
    static constexpr qint64 kNoBodyLimit = -1;

    TDownloadPool(int MaxConcurrentDownloads,
                  std::shared_ptr<QNetworkAccessManagerWrapper> pNetworkAccessManager,
                  bool ReleaseSlotOnFinish);
    ~TDownloadPool() override;

    // Queues at the back; a URL already waiting moves there. Invalid or relative URLs fail at
    // once with ProtocolInvalidOperationError and "Invalid URL".
    virtual void queueDownload(const QUrl& Url);
    // The same, but a body that grows past MaxBodyBytes is cut off as it arrives and fails with
    // UnknownContentError: bodies are held in memory, and an endless one would take all of it.
    // A body declared longer than that fails before it is read. The limit of the latest call
    // applies.
    virtual void queueDownload(const QUrl& Url, qint64 MaxBodyBytes);
    // The same, accepting the body in the given encoding: a gzip body is inflated, and fails as
    // soon as the inflated bytes pass MaxBodyBytes.
    virtual void queueDownload(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted);
    // Queues at the front; a URL already waiting moves there.
    virtual void queueDownloadWithPriority(const QUrl& Url);
    // Lowering the bound stops no running download; it only keeps new ones from starting.
    virtual void setMaxConcurrentDownloads(int MaxConcurrentDownloads);
    virtual int getMaxConcurrentDownloads() const;
    virtual int getNumberOfActiveDownloads() const;
    // Queued plus active.
    virtual std::size_t getNumberOfOutstandingDownloads() const;
    // A cache belongs to one manager: from then on the pool uses only the manager it was given,
    // and so at most six connections to one host.
    virtual void setCache(QAbstractNetworkCache* pCache);
    // Frees the slot of a URL. A URL that holds no slot is ignored.
    virtual void releaseDownload(const QUrl& Url);
    // Drops every waiting download and aborts the running ones, none of which reports: for an
    // installation that is paused or cancelled. Downloads queued afterwards run as usual.
    virtual void abortAll();

    // Bounds the body bytes read from all downloads together, in bytes per second (0 or less:
    // unlimited); takes effect at once, also for running downloads. Bytes beyond the limit stay
    // in the network: Qt stops reading a reply whose small buffer is full.
    virtual void setMaxDownloadRate(qint64 BytesPerSecond);
    qint64 getMaxDownloadRate() const { return m_MaxDownloadRate; }

    // Spreads the downloads of addresses below the primary's tree over its mirrors, tries a
    // failed one on another base next time and sets aside bases that keep failing or are far
    // slower than the others; the bodies running on a base set aside for its slowness start
    // again on another at once, holding their slots and reporting no failure. Results are still
    // reported under the queued address.
    void setMirrors(std::shared_ptr<TMirrorSet> pMirrors);
    bool hasMirrors() const;
    // A body that arrived but proved wrong (its hash): it counts against the base that served
    // it, and the next try of the address asks another. Call before releasing the address.
    void reportBadBody(const QUrl& Url, const QString& Reason);

    // Applies to downloads started from now on: the launcher's settings may change it, and tests
    // shorten it to exercise stalled connections.
    void setTransferTimeout(int Milliseconds) { m_TransferTimeoutMs = Milliseconds; }

signals:
    void success(QUrl url, QByteArray data);
    void failed(QUrl url, QNetworkReply::NetworkError code, QString errorString);
    void progress(QUrl Url, qint64 BytesReceivedFromRequest);
    // With mirrors: a try of Url failed on the base with this root, which may now be set aside.
    void failedOnBase(QUrl Url, QString BaseRoot, QString Reason, bool SetAside);

private:
    // The body of one download as it arrives, read out of the reply at every arrival into one
    // buffer: sized once by the declared length, so a large body is neither copied as it grows
    // nor held twice (once in the reply, once assembled) when it ends.
    struct TBody
    {
        QByteArray Bytes;
        qint64 Received = 0;
        bool Sized = false;
        // Waiting in m_ThrottledReads for the rate limit.
        bool Throttled = false;
        EAcceptedEncoding Accepted = EAcceptedEncoding::Identity;
        // Only for a gzip body; it holds the body instead of Bytes.
        std::shared_ptr<TGzipInflater> pInflater;
    };
    // Guarded: a reply may finish and go while its read waits.
    struct TThrottledRead
    {
        QUrl Url;
        QPointer<QNetworkReplyWrapper> pReply;
        qint64 MaxBodyBytes = kNoBodyLimit;
        std::shared_ptr<TBody> pBody;
    };
    struct TManagerShare
    {
        std::shared_ptr<QNetworkAccessManagerWrapper> pManager;
        int Running = 0;
    };

    // A place in the queue. Moving a waiting URL leaves its old place behind: it no longer
    // matches the URL's ticket and is skipped, so a move costs no scan of the queue.
    struct TQueuedDownload
    {
        QUrl Url;
        quint64 Ticket = 0;
    };
    struct TWaitingDownload
    {
        quint64 Ticket = 0;
        qint64 MaxBodyBytes = kNoBodyLimit;
        EAcceptedEncoding Accepted = EAcceptedEncoding::Identity;
    };

    // What a running download was asked with, to ask it again elsewhere.
    struct TRunningDownload
    {
        qint64 MaxBodyBytes = kNoBodyLimit;
        EAcceptedEncoding Accepted = EAcceptedEncoding::Identity;
        std::size_t Manager = 0;
    };

    void startQueuedDownloads();
    void startDownload(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted);
    void enqueue(const QUrl& Url, qint64 MaxBodyBytes, EAcceptedEncoding Accepted, bool AtFront);
    void dropLeftBehindPlaces();
    // True when Url's slot is held by pReply and pReply has not reported yet.
    bool isUnreported(const QUrl& Url, const QNetworkReplyWrapper* pReply) const;
    void markReported(const QUrl& Url);
    void onReplyError(const QUrl& Url, QNetworkReplyWrapper* pReply);
    void onReplyFinished(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                         const std::shared_ptr<TBody>& pBody);
    // False when the download has failed (the body is longer than allowed or cannot be held).
    // Unless Final, reading waits in m_ThrottledReads while the rate limit allows nothing.
    bool onReplyDataArrived(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                            const std::shared_ptr<TBody>& pBody, bool Final);
    // Decides from the answer's headers how its body is read; false when it has failed.
    bool startBody(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes, qint64 Limit,
                   TBody& Body);
    // Reads what has arrived into Body; false when the download has failed. Returns the bytes
    // taken from the network in Read.
    bool readRaw(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes, qint64 Limit,
                 qint64 Available, TBody& Body, qint64& Read);
    bool readGzip(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 Available, TBody& Body,
                  qint64& Read);
    // The least busy of the managers the bound calls for, made as needed.
    std::size_t pickManager();
    void refillTokens();
    void onResumeThrottledReads();
    qint64 readBufferSize() const;
    void failBody(const QUrl& Url, QNetworkReplyWrapper* pReply, const QString& Reason);
    // The address of Url on the base chosen for this try; Url itself without mirrors.
    QUrl chooseAddress(const QUrl& Url);
    void noteFailure(const QUrl& Url, const QString& Reason);
    void noteSuccess(const QUrl& Url);
    void onCheckSlowBases();
    // Starts the unreported downloads running on Base again on other bases.
    void moveOffBase(int Base);

    std::shared_ptr<QNetworkAccessManagerWrapper> m_pNetworkAccessManager;
    // The given manager first, then its siblings.
    std::vector<TManagerShare> m_Managers;
    bool m_bCacheSet = false;
    // A slot whose download has already reported holds a null reply (manual release only).
    QMap<QUrl, QNetworkReplyWrapper*> m_ActiveDownloads;
    int m_MaxConcurrentDownloads;
    std::deque<TQueuedDownload> m_QueuedDownloads;
    // Every waiting URL once, with its current place's ticket, its body limit and encoding.
    QHash<QUrl, TWaitingDownload> m_WaitingDownloads;
    quint64 m_NextTicket = 0;
    TNetworkAccessManagerAuthenticationHandler m_AuthenticationHandler;
    bool m_ReleaseSlotOnFinish;
    int m_TransferTimeoutMs = kDefaultTransferTimeoutMs;
    // A token bucket over all downloads: reading takes tokens, and may take a reply's whole
    // (small) buffer and go into debt, which later refills pay back.
    qint64 m_MaxDownloadRate = 0;
    double m_Tokens = 0;
    QElapsedTimer m_RefillClock;
    QTimer m_ResumeTimer;
    std::deque<TThrottledRead> m_ThrottledReads;
    std::shared_ptr<TMirrorSet> m_pMirrors;
    QElapsedTimer m_MirrorClock;
    // The base each address is being or was last served from, until it is released.
    QHash<QUrl, int> m_BaseOf;
    // The base an address last failed on, avoided by its next try.
    QHash<QUrl, int> m_FailedBaseOf;
    // Unreported downloads, with mirrors only.
    QHash<QUrl, TRunningDownload> m_Running;
    QTimer m_SlowCheckTimer;
};

} // namespace shared
