#pragma once

#include <QByteArray>
#include <QMap>
#include <QNetworkReply>
#include <QTextBrowser>
#include <QUrl>
#include <QVariant>

#include <memory>

namespace shared {

class TDownloadPool;

// A text browser whose web resources come through the download pool: it shows a placeholder at
// once and renders again when the resource arrives, instead of blocking on the network. Its text
// comes from servers, so it loads nothing from the local file system, holds no resource larger
// than a few MiB and hands only web links to the desktop.
class QTextBrowserWithNetwork : public QTextBrowser
{
    Q_OBJECT

public:
    explicit QTextBrowserWithNetwork(std::shared_ptr<TDownloadPool> pDownloadPool,
                                     QWidget* pParent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
    QVariant loadResource(int Type, const QUrl& Name) override;

public slots:
    void onDownloadFinished(QUrl Url, QByteArray Data);
    void onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code, QString ErrorString);

private:
    std::shared_ptr<TDownloadPool> m_pDownloadPool;
    QMap<QUrl, QVariant> m_ResourceCache;
    // The resources asked of the pool, with their kind.
    QMap<QUrl, int> m_ResourceTypes;
};

} // namespace shared
