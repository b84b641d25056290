#include "launcher/ui/hintarea.h"

#include "launcher/logging/logging.h"
#include "launcher/ui/clickablelabel.h"
#include "launcher/ui/uistyle.h"
#include "shared/imagefile/boundedimage.h"
#include "shared/network/downloadpool.h"
#include "shared/qtextbrowserwithnetwork/qtextbrowserwithnetwork.h"
#include "shared/qtextbrowserwithnetwork/weblink.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QPixmap>
#include <QPolygon>
#include <QRegion>
#include <QStyle>

namespace orvik::launcher {

namespace {

const QString kCategories[THintArea::kSlotCount] = {QStringLiteral("cat1"), QStringLiteral("cat2"),
                                                    QStringLiteral("cat3")};
const QSize kContainerSize(276, 80);
const QSize kImageSize(290, 80);
const QSize kHoverFrameSize(286, 84);
// A banner picture of 290 x 80 pixels needs far less; an endless answer gets no further.
constexpr qint64 kMaxImageBytes = 4 * 1024 * 1024;
// 2048 x 2048 pixels of four bytes: 16 MiB once decoded.
constexpr qint64 kMaxImagePixels = 2048 * 2048;

const QString kHoverFrameStyle = QStringLiteral(
    "QWidget#hintFrame:hover, QWidget#hintFrame[keyboardFocus=\"true\"] { background-color: "
    "#8ED838; } QWidget#hintFrame { background-color: transparent; }");

// Slanted edges between the slots make the three one banner. The frame around a slot has the
// same slant, so that its highlight is a band around the slot, not a wedge beside it.
QRegion slotMask(int Slot, QSize Size = kContainerSize)
{
    const int w = Size.width();
    const int h = Size.height();
    switch (Slot) {
    case 0:
        return QRegion(QPolygon({{0, 0}, {w, 0}, {w - h / 2, h}, {0, h}}));
    case 1:
        return QRegion(QPolygon({{h / 2, 0}, {w, 0}, {w - h / 2, h}, {0, h}}));
    default:
        return QRegion(QPolygon({{h / 2, 0}, {w, 0}, {w, h}, {0, h}}));
    }
}

QString captionStyle(int Slot)
{
    return QStringLiteral("QLabel { %1 padding-left: %2px; background-color: %3; }")
        .arg(uistyle::font(11))
        .arg(Slot == 0 ? 10 : 18)
        .arg(uistyle::css(uistyle::kCaptionShade));
}

} // namespace

THintArea::THintArea(std::shared_ptr<::shared::TDownloadPool> pDownloadPool)
    : m_pDownloadPool(std::move(pDownloadPool))
{
    m_pLayout = new QHBoxLayout(this);
    m_pLayout->setSpacing(0);
    m_pLayout->setContentsMargins(0, 0, 44, 0);
    for (int slot = 0; slot < kSlotCount; ++slot) {
        TSlot& entry = m_Slots[size_t(slot)];
        entry.pContainer = new QWidget;
        entry.pContainer->setFixedSize(kContainerSize);
        entry.pContainer->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto* browser = new ::shared::QTextBrowserWithNetwork(m_pDownloadPool, entry.pContainer);
        browser->move(0, 0);
        // Empty until a hint comes: no stop for the keyboard.
        browser->setFocusPolicy(Qt::NoFocus);
        entry.pContainer->setMask(slotMask(slot));
        m_pLayout->addWidget(entry.pContainer);
    }
    if (m_pDownloadPool) {
        connect(m_pDownloadPool.get(), &::shared::TDownloadPool::success, this,
                &THintArea::onImageDownloaded);
        connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failed, this,
                &THintArea::onImageDownloadFailed);
    }
}

bool THintArea::showHints(const std::vector<::shared::THint>& Hints)
{
    bool received[kSlotCount] = {false, false, false};
    // Only the last hint of a category is shown: no image is fetched for the others.
    int latest[kSlotCount] = {-1, -1, -1};
    for (size_t i = 0; i < Hints.size(); ++i) {
        for (int slot = 0; slot < kSlotCount; ++slot) {
            if (Hints[i].Category == kCategories[slot])
                latest[slot] = int(i);
        }
    }
    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (latest[slot] < 0)
            continue;
        showHint(slot, Hints[size_t(latest[slot])]);
        received[slot] = true;
    }
    return received[0] && received[1] && received[2];
}

void THintArea::showHint(int Slot, const ::shared::THint& Hint)
{
    TSlot& entry = m_Slots[size_t(Slot)];
    entry.Hint = Hint;
    for (QObject* child : entry.pContainer->children()) {
        if (child->isWidgetType())
            child->deleteLater();
    }

    const QUrl link(Hint.Url);
    const QString opens = tr("News, opens %1").arg(Hint.Url);
    auto* image = new ClickableLabel(entry.pContainer);
    image->setMinimumSize(kImageSize);
    // The caption is the slot's one stop for the keyboard; the picture answers the mouse only.
    image->setFocusPolicy(Qt::NoFocus);
    image->setToolTip(uistyle::plainToolTip(Hint.Url));
    image->setAccessibleName(Hint.Title);
    image->setAccessibleDescription(opens);
    image->move((kContainerSize.width() - kImageSize.width()) / 2,
                (kContainerSize.height() - kImageSize.height()) / 2);

    // The title is shown as it is written: as rich text it could name local files as images,
    // which the label would read to their end.
    auto* caption = new ClickableLabel(entry.pContainer);
    caption->setTextFormat(Qt::PlainText);
    caption->setText(Hint.Title);
    caption->setAlignment(Qt::AlignVCenter | Qt::AlignLeft);
    caption->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    caption->setGeometry(QRect(QPoint(0, 50), QPoint(279, 79)));
    caption->setToolTip(uistyle::plainToolTip(Hint.Url));
    caption->setStyleSheet(captionStyle(Slot));
    caption->setAccessibleName(Hint.Title);
    caption->setAccessibleDescription(opens);
    // The slanted mask would cut a frame of its own; the slot's frame lights up instead.
    caption->setFocusFrameShown(false);
    caption->installEventFilter(this);
    for (ClickableLabel* label : {image, caption})
        connect(label, &ClickableLabel::clicked, this, [link] { ::shared::openWebLink(link); });
    image->show();
    caption->show();
    entry.pImage = image;
    entry.pCaption = caption;

    entry.ImageUrl = QUrl(Hint.ImageUrl);
    // Only from the web: the pool would read a local file or device just as well.
    if (m_pDownloadPool && ::shared::isWebLink(entry.ImageUrl))
        m_pDownloadPool->queueDownload(entry.ImageUrl, kMaxImageBytes);
    else if (!Hint.ImageUrl.isEmpty())
        qWarning() << "Hint image not fetched, it is no web address:" << Hint.ImageUrl
                   << threadSuffix;

    if (!entry.pHoverFrame) {
        entry.pHoverFrame = new QWidget;
        entry.pHoverFrame->setObjectName(QStringLiteral("hintFrame"));
        entry.pHoverFrame->setFixedSize(kHoverFrameSize);
        entry.pHoverFrame->setStyleSheet(kHoverFrameStyle);
        entry.pHoverFrame->setMask(slotMask(Slot, kHoverFrameSize));
        auto* frameLayout = new QHBoxLayout;
        frameLayout->setSpacing(0);
        frameLayout->setContentsMargins(0, 0, 0, 0);
        delete m_pLayout->replaceWidget(entry.pContainer, entry.pHoverFrame);
        frameLayout->addWidget(entry.pContainer, 0, Qt::AlignCenter);
        entry.pHoverFrame->setLayout(frameLayout);
    }
}

QWidget* THintArea::frame(int Slot) const
{
    return m_Slots[size_t(Slot)].pHoverFrame;
}

bool THintArea::eventFilter(QObject* pWatched, QEvent* pEvent)
{
    if (pEvent->type() != QEvent::FocusIn && pEvent->type() != QEvent::FocusOut)
        return QWidget::eventFilter(pWatched, pEvent);
    for (const TSlot& entry : m_Slots) {
        if (entry.pCaption != pWatched || !entry.pHoverFrame)
            continue;
        entry.pHoverFrame->setProperty("keyboardFocus", pEvent->type() == QEvent::FocusIn);
        // A style sheet reads a property again only when the widget is polished anew.
        entry.pHoverFrame->style()->unpolish(entry.pHoverFrame);
        entry.pHoverFrame->style()->polish(entry.pHoverFrame);
        entry.pHoverFrame->update();
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void THintArea::onImageDownloaded(QUrl Url, QByteArray Data)
{
    for (TSlot& entry : m_Slots) {
        if (entry.ImageUrl != Url || !entry.pImage)
            continue;
        const QImage decoded = ::shared::decodeImageWithin(Data, kMaxImagePixels);
        if (decoded.isNull()) {
            qWarning() << "Hint image could not be read or is too large:" << Url << threadSuffix;
            continue;
        }
        const QPixmap pixmap = QPixmap::fromImage(decoded).scaled(
            kImageSize, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
        entry.pImage->setPixmap(pixmap);
        entry.pImage->resize(pixmap.size());
        entry.pImage->move((kContainerSize.width() - pixmap.width()) / 2,
                           (kContainerSize.height() - pixmap.height()) / 2);
        entry.pCaption->raise();
    }
}

void THintArea::onImageDownloadFailed(QUrl Url, QNetworkReply::NetworkError, QString ErrorString)
{
    for (const TSlot& entry : m_Slots) {
        if (entry.ImageUrl == Url)
            qWarning() << "Hint image not shown:" << Url << ErrorString << threadSuffix;
    }
}

} // namespace orvik::launcher
