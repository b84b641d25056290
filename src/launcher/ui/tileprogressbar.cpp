#include "launcher/ui/tileprogressbar.h"

#include "launcher/ui/uistyle.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionProgressBar>

namespace orvik::launcher {

TTileProgressBar::TTileProgressBar(QWidget* pParent) : QProgressBar(pParent)
{
    // The bar draws its text itself, in two colours.
    QProgressBar::setTextVisible(false);
}

QRect TTileProgressBar::filledRect() const
{
    QStyleOptionProgressBar option;
    initStyleOption(&option);
    const QRect contents = style()->subElementRect(QStyle::SE_ProgressBarContents, &option, this);
    const qint64 range = qint64(maximum()) - minimum();
    if (range <= 0)
        return {};
    const qint64 done = qBound<qint64>(0, qint64(value()) - minimum(), range);
    QRect filled = contents;
    filled.setWidth(int(contents.width() * done / range));
    return filled;
}

void TTileProgressBar::paintEvent(QPaintEvent* pEvent)
{
    QProgressBar::paintEvent(pEvent);
    const QString shown = text();
    if (shown.isEmpty())
        return;
    QPainter painter(this);
    painter.setFont(font());
    const QRect filled = filledRect();
    const QRegion empty = QRegion(rect()).subtracted(filled);
    painter.setClipRect(filled);
    painter.setPen(uistyle::kTextOnGold);
    painter.drawText(rect(), Qt::AlignCenter, shown);
    painter.setClipRegion(empty);
    painter.setPen(uistyle::kText);
    painter.drawText(rect(), Qt::AlignCenter, shown);
}

} // namespace orvik::launcher
