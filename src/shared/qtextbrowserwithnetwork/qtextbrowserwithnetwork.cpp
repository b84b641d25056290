#include "shared/qtextbrowserwithnetwork/qtextbrowserwithnetwork.h"

#include "shared/network/downloadpool.h"

#include <QDebug>
#include <QImage>
#include <QTextDocument>

#include <cmath>

namespace shared {

namespace {

const QString kStyle = QStringLiteral(
    "QTextBrowser { font-family: \"Liberation Sans\"; font-variant: small-caps; font-size: 11px; "
    "font-weight: bold; color: #DADABC; border: none; } "
    "QScrollBar:vertical { width: 12px; margin: 12px 0 12px 0; border-image: "
    "url(:/images/launcher/scrollbar-texture-vertical.png); } "
    "QScrollBar::handle:vertical { min-height: 12px; border-image: "
    "url(:/images/launcher/scrollbar-handle-vertical.png); } "
    "QScrollBar::sub-line:vertical { height: 12px; subcontrol-position: top; subcontrol-origin: "
    "margin; border-image: url(:/images/launcher/scrollbar-buttonup-up.png); } "
    "QScrollBar::sub-line:vertical:pressed { border-image: "
    "url(:/images/launcher/scrollbar-buttonup-down.png); } "
    "QScrollBar::add-line:vertical { height: 12px; subcontrol-position: bottom; "
    "subcontrol-origin: margin; border-image: url(:/images/launcher/scrollbar-buttondown-up.png); "
    "} QScrollBar::add-line:vertical:pressed { border-image: "
    "url(:/images/launcher/scrollbar-buttondown-down.png); } "
    "QScrollBar::up-arrow:vertical, QScrollBar::down-arrow:vertical { background: none; } "
    "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }");

bool isNetworkScheme(const QUrl& Url)
{
    const QString scheme = Url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp");
}

} // namespace

QTextBrowserWithNetwork::QTextBrowserWithNetwork(std::shared_ptr<TDownloadPool> pDownloadPool,
                                                 QWidget* pParent)
    : QTextBrowser(pParent), m_pDownloadPool(std::move(pDownloadPool))
{
    setOpenExternalLinks(true);
    setFixedSize(280, 104);
    viewport()->setAutoFillBackground(true);
    document()->setDefaultStyleSheet(
        QStringLiteral("a { color: #c0c0c0; text-decoration: underline; }"));
    setStyleSheet(kStyle);
    if (m_pDownloadPool) {
        connect(m_pDownloadPool.get(), &TDownloadPool::success, this,
                &QTextBrowserWithNetwork::onDownloadFinished);
        connect(m_pDownloadPool.get(), &TDownloadPool::failed, this,
                &QTextBrowserWithNetwork::onDownloadFailed);
    }
}

QSize QTextBrowserWithNetwork::sizeHint() const
{
    const QSizeF size = document()->size();
    return QSize(int(std::lround(size.width())), int(std::lround(size.height())));
}

QSize QTextBrowserWithNetwork::minimumSizeHint() const
{
    return sizeHint();
}

QVariant QTextBrowserWithNetwork::loadResource(int Type, const QUrl& Name)
{
    const auto cached = m_ResourceCache.constFind(Name);
    if (cached != m_ResourceCache.constEnd())
        return cached.value();
    if (isNetworkScheme(Name) && m_pDownloadPool) {
        QVariant placeholder;
        if (Type == QTextDocument::ImageResource) {
            QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
            image.fill(Qt::transparent);
            placeholder = image;
        } else {
            placeholder = QVariant(Type);
        }
        m_ResourceCache.insert(Name, placeholder);
        m_pDownloadPool->queueDownload(Name);
        return placeholder;
    }
    const QVariant resource = QTextBrowser::loadResource(Type, Name);
    m_ResourceCache.insert(Name, resource);
    return resource;
}

void QTextBrowserWithNetwork::onDownloadFinished(QUrl Url, QByteArray Data)
{
    // The pool serves the whole launcher: only resources this browser asked for are its own.
    if (!m_ResourceCache.contains(Url))
        return;
    m_ResourceCache.insert(Url, Data);
    setHtml(toHtml());
}

void QTextBrowserWithNetwork::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                               QString ErrorString)
{
    if (!m_ResourceCache.contains(Url))
        return;
    qWarning() << "Download failed:" << Url << Code << ErrorString;
}

} // namespace shared
