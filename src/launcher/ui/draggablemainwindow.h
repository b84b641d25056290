#pragma once

#include <QMainWindow>
#include <QPoint>

namespace orvik::launcher {

// A main window without a frame of its own to hold: the player drags it by its background.
class TDraggableMainWindow : public QMainWindow
{
public:
    using QMainWindow::QMainWindow;

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseMoveEvent(QMouseEvent* pEvent) override;

private:
    // Screen position of the pointer at the last step of a drag; (0,0) while none runs.
    QPoint m_LastDragPosition;
};

} // namespace orvik::launcher
