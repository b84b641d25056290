#include "launcher/cdntrace/cloudflarecdntrace.h"

#include "shared/network/downloadpool.h"

namespace orvik::launcher {

namespace {

// The trace is four short values among a dozen lines; an endless answer gets no further.
constexpr qint64 kMaxTraceBytes = 4 * 1024;

} // namespace

TCloudflareCdnTrace::TCloudflareCdnTrace(const QUrl& TraceUrl,
                                         std::shared_ptr<::shared::TDownloadPool> pDownloadPool)
    : m_TraceUrl(TraceUrl), m_pDownloadPool(std::move(pDownloadPool))
{
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::success, this,
            &TCloudflareCdnTrace::onDownloadSuccess);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failed, this,
            &TCloudflareCdnTrace::onDownloadFailed);
}

void TCloudflareCdnTrace::requestTrace()
{
    if (m_bSucceeded || m_bFailed || m_bRequested)
        return;
    if (m_TraceUrl.isValid()) {
        m_bRequested = true;
        m_bFailed = false;
        m_pDownloadPool->queueDownload(m_TraceUrl, kMaxTraceBytes);
        return;
    }
    m_bFailed = true;
    m_bRequested = false;
    emit diagnosticsTraceReceived(true);
}

void TCloudflareCdnTrace::onDownloadSuccess(QUrl Url, QByteArray Data)
{
    if (Url != m_TraceUrl)
        return;
    const int end = Data.indexOf('\0');
    const QString text = QString::fromUtf8(end < 0 ? Data : Data.left(end));
    QString values[4];
    static const QString keys[4] = {QStringLiteral("fl"), QStringLiteral("ts"),
                                    QStringLiteral("colo"), QStringLiteral("ip")};
    for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char('='), Qt::SkipEmptyParts);
        if (parts.size() != 2)
            continue;
        for (int i = 0; i < 4; ++i) {
            if (parts[0].compare(keys[i], Qt::CaseInsensitive) == 0)
                values[i] = parts[1].trimmed();
        }
    }
    m_Fl = values[0];
    m_Ts = values[1];
    m_Colo = values[2];
    m_Ip = values[3];
    m_bRequested = false;
    m_bSucceeded = true;
    m_bFailed = false;
    emit diagnosticsTraceReceived(false);
}

void TCloudflareCdnTrace::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError, QString)
{
    if (Url != m_TraceUrl)
        return;
    m_bRequested = false;
    m_bSucceeded = false;
    m_bFailed = true;
    emit diagnosticsTraceReceived(true);
}

} // namespace orvik::launcher
