#pragma once

#include <QLabel>

namespace orvik::launcher {

// A label that acts like a link: a left click on it, or Enter or Space while it has the keyboard
// focus, reports it once. Tab reaches it, and a frame shows when it has the focus.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    explicit ClickableLabel(QWidget* pParent = nullptr);

    // Where the frame would be cut off, whoever holds the label shows the focus instead.
    void setFocusFrameShown(bool Shown) { m_bFocusFrameShown = Shown; }

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;
    void mouseDoubleClickEvent(QMouseEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    bool m_bPressed = false;
    bool m_bFocusFrameShown = true;
};

} // namespace orvik::launcher
