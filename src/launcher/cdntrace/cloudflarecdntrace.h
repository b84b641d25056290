#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>
#include <QUrl>

#include <memory>

namespace shared {
class TDownloadPool;
}

namespace orvik::launcher {

// Which edge of the content-delivery network serves this player, fetched once on demand from
// the network's trace address, so a "Download failed" message can tell support where to look.
class TCloudflareCdnTrace : public QObject
{
    Q_OBJECT

public:
    // The pool serves others too: only answers for the trace address are taken.
    TCloudflareCdnTrace(const QUrl& TraceUrl,
                        std::shared_ptr<::shared::TDownloadPool> pDownloadPool);

    // Starts the one download of a run; does nothing once it runs, succeeded or failed.
    void requestTrace();

    bool hasSucceeded() const { return m_bSucceeded; }
    bool hasFailed() const { return m_bFailed; }
    bool isRequested() const { return m_bRequested; }
    const QString& getFl() const { return m_Fl; }
    const QString& getTs() const { return m_Ts; }
    const QString& getColo() const { return m_Colo; }
    const QString& getIp() const { return m_Ip; }

signals:
    void diagnosticsTraceReceived(bool Failed);

public slots:
    void onDownloadSuccess(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private:
    QUrl m_TraceUrl;
    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    QString m_Fl;
    QString m_Ts;
    QString m_Colo;
    QString m_Ip;
    bool m_bSucceeded = false;
    bool m_bFailed = false;
    bool m_bRequested = false;
};

} // namespace orvik::launcher
