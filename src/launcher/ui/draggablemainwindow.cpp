#include "launcher/ui/draggablemainwindow.h"

#include <QMouseEvent>

namespace orvik::launcher {

void TDraggableMainWindow::mousePressEvent(QMouseEvent* pEvent)
{
    m_LastDragPosition = pEvent->globalPos();
    QMainWindow::mousePressEvent(pEvent);
}

void TDraggableMainWindow::mouseReleaseEvent(QMouseEvent* pEvent)
{
    m_LastDragPosition = QPoint();
    QMainWindow::mouseReleaseEvent(pEvent);
}

void TDraggableMainWindow::mouseMoveEvent(QMouseEvent* pEvent)
{
    if (!m_LastDragPosition.isNull()) {
        const QPoint position = pEvent->globalPos();
        move(pos() + position - m_LastDragPosition);
        m_LastDragPosition = position;
    }
    QMainWindow::mouseMoveEvent(pEvent);
}

} // namespace orvik::launcher
