#include "shared/qtextbrowserwithnetwork/qtextbrowserwithnetwork.h"

#include "shared/imagefile/boundedimage.h"
#include "shared/network/downloadpool.h"
#include "shared/qtextbrowserwithnetwork/weblink.h"

#include <QDebug>
#include <QImage>
#include <QTextDocument>
#include <QThread>

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

// Ample for the pictures of a news text, and what an endless answer may take at most.
constexpr qint64 kMaxResourceBytes = 4 * 1024 * 1024;
// 4096 x 4096 pixels of four bytes: 64 MiB once decoded.
constexpr qint64 kMaxImagePixels = 4096 * 4096;

bool isNetworkScheme(const QUrl& Url)
{
    const QString scheme = Url.scheme();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("ftp");
}

// Stands in for a resource until it arrives, and for good when it is refused. Never null: the
// document reads a resource for which it is given nothing from the local file system itself.
QVariant placeholder(int Type)
{
    if (Type != QTextDocument::ImageResource)
        return QVariant(Type);
    QImage image(32, 32, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

} // namespace

QTextBrowserWithNetwork::QTextBrowserWithNetwork(std::shared_ptr<TDownloadPool> pDownloadPool,
                                                 QWidget* pParent)
    : QTextBrowser(pParent), m_pDownloadPool(std::move(pDownloadPool))
{
    // Links go to the desktop only as web pages, and never replace the text: the browser would
    // show any local file a link names.
    setOpenExternalLinks(false);
    setOpenLinks(false);
    connect(this, &QTextBrowser::anchorClicked, this, [](const QUrl& Link) { openWebLink(Link); });
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
    // The text comes from a server: what it names on this machine (a file, a device) is none of
    // its business, only what the launcher's own resources hold.
    if (Name.scheme() == QLatin1String("qrc")) {
        const QVariant resource = QTextBrowser::loadResource(Type, Name);
        m_ResourceCache.insert(Name, resource);
        return resource;
    }
    const QVariant stand = placeholder(Type);
    m_ResourceCache.insert(Name, stand);
    if (isNetworkScheme(Name) && m_pDownloadPool) {
        m_ResourceTypes.insert(Name, Type);
        m_pDownloadPool->queueDownload(Name, kMaxResourceBytes);
    } else {
        qWarning() << "Resource not loaded, it is neither on the web nor built in:"
                   << Name.toString() << " Thread: " << QThread::currentThreadId();
    }
    return stand;
}

void QTextBrowserWithNetwork::onDownloadFinished(QUrl Url, QByteArray Data)
{
    // The pool serves the whole launcher: only resources this browser asked for are its own.
    const auto type = m_ResourceTypes.constFind(Url);
    if (type == m_ResourceTypes.constEnd())
        return;
    if (type.value() == QTextDocument::ImageResource) {
        // Decoded here rather than by the document, which would decode any size it is given.
        const QImage image = decodeImageWithin(Data, kMaxImagePixels);
        if (image.isNull()) {
            qWarning() << "Image not shown, unreadable or too large:" << Url.toString()
                       << " Thread: " << QThread::currentThreadId();
            return;
        }
        m_ResourceCache.insert(Url, image);
    } else {
        m_ResourceCache.insert(Url, Data);
    }
    setHtml(toHtml());
}

void QTextBrowserWithNetwork::onDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                               QString ErrorString)
{
    if (!m_ResourceTypes.contains(Url))
        return;
    qWarning() << "Download failed:" << Url << Code << ErrorString;
}

} // namespace shared
