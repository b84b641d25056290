#pragma once

#include "shared/network/networkaccessmanagerauthenticationhandler.h"

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <deque>
#include <memory>

class QAbstractNetworkCache;

namespace shared {

class QNetworkAccessManagerWrapper;
class QNetworkReplyWrapper;

// Runs HTTP GET downloads, at most a bounded number at a time, keyed by URL: one URL is never
// downloaded twice at once by one pool. Every started download reports exactly once, through
// success or failed, under the URL it was queued with.
//
// With automatic release a URL gives up its slot as soon as it has reported. With manual
// release it keeps the slot until releaseDownload, so the bound also limits the clients'
// processing of the results.
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
    // Queues at the front; a URL already waiting moves there.
    virtual void queueDownloadWithPriority(const QUrl& Url);
    // Lowering the bound stops no running download; it only keeps new ones from starting.
    virtual void setMaxConcurrentDownloads(int MaxConcurrentDownloads);
    virtual int getMaxConcurrentDownloads() const;
    virtual int getNumberOfActiveDownloads() const;
    // Queued plus active.
    virtual std::size_t getNumberOfOutstandingDownloads() const;
    virtual void setCache(QAbstractNetworkCache* pCache);
    // Frees the slot of a URL. A URL that holds no slot is ignored.
    virtual void releaseDownload(const QUrl& Url);

    // Applies to downloads started from now on. Production code keeps the default; tests shorten
    // it to exercise stalled connections.
    void setTransferTimeout(int Milliseconds) { m_TransferTimeoutMs = Milliseconds; }

signals:
    void success(QUrl url, QByteArray data);
    void failed(QUrl url, QNetworkReply::NetworkError code, QString errorString);
    void progress(QUrl Url, qint64 BytesReceivedFromRequest);

private:
    // The body of one download as it arrives, read out of the reply at every arrival into one
    // buffer: sized once by the declared length, so a large body is neither copied as it grows
    // nor held twice (once in the reply, once assembled) when it ends.
    struct TBody
    {
        QByteArray Bytes;
        qint64 Received = 0;
        bool Sized = false;
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
    };

    void startQueuedDownloads();
    void enqueue(const QUrl& Url, qint64 MaxBodyBytes, bool AtFront);
    void dropLeftBehindPlaces();
    // True when Url's slot is held by pReply and pReply has not reported yet.
    bool isUnreported(const QUrl& Url, const QNetworkReplyWrapper* pReply) const;
    void markReported(const QUrl& Url);
    void onReplyError(const QUrl& Url, QNetworkReplyWrapper* pReply);
    void onReplyFinished(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                         TBody& Body);
    // False when the download has failed (the body is longer than allowed or cannot be held).
    bool onReplyDataArrived(const QUrl& Url, QNetworkReplyWrapper* pReply, qint64 MaxBodyBytes,
                            TBody& Body);
    void failBody(const QUrl& Url, QNetworkReplyWrapper* pReply, const QString& Reason);

    std::shared_ptr<QNetworkAccessManagerWrapper> m_pNetworkAccessManager;
    // A slot whose download has already reported holds a null reply (manual release only).
    QMap<QUrl, QNetworkReplyWrapper*> m_ActiveDownloads;
    int m_MaxConcurrentDownloads;
    std::deque<TQueuedDownload> m_QueuedDownloads;
    // Every waiting URL once, with its current place's ticket and its body limit.
    QHash<QUrl, TWaitingDownload> m_WaitingDownloads;
    quint64 m_NextTicket = 0;
    TNetworkAccessManagerAuthenticationHandler m_AuthenticationHandler;
    bool m_ReleaseSlotOnFinish;
    int m_TransferTimeoutMs = kDefaultTransferTimeoutMs;
};

} // namespace shared
