#include "launcher/ui/clickablelabel.h"

#include "launcher/ui/darklook.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace orvik::launcher {

ClickableLabel::ClickableLabel(QWidget* pParent) : QLabel(pParent)
{
    // Not on a click: a mouse user would be left with a frame after every link opened.
    setFocusPolicy(Qt::TabFocus);
    setCursor(Qt::PointingHandCursor);
}

void ClickableLabel::mousePressEvent(QMouseEvent* pEvent)
{
    // Taken here, so that no widget below sees the press and acts on it as well.
    m_bPressed = pEvent->button() == Qt::LeftButton;
    pEvent->accept();
}

void ClickableLabel::mouseReleaseEvent(QMouseEvent* pEvent)
{
    const bool clickedHere =
        m_bPressed && pEvent->button() == Qt::LeftButton && rect().contains(pEvent->pos());
    m_bPressed = false;
    pEvent->accept();
    if (clickedHere)
        emit clicked();
}

void ClickableLabel::mouseDoubleClickEvent(QMouseEvent* pEvent)
{
    // The second press of a double click is no second request to open the link.
    pEvent->accept();
}

void ClickableLabel::keyPressEvent(QKeyEvent* pEvent)
{
    switch (pEvent->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (!pEvent->isAutoRepeat())
            emit clicked();
        pEvent->accept();
        return;
    default:
        QLabel::keyPressEvent(pEvent);
    }
}

void ClickableLabel::paintEvent(QPaintEvent* pEvent)
{
    QLabel::paintEvent(pEvent);
    if (hasFocus() && m_bFocusFrameShown)
        darklook::paintFocusFrame(this);
}

} // namespace orvik::launcher
