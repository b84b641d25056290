#pragma once

#include <QMenu>
#include <QPushButton>
#include <QString>

class QAction;
class QContextMenuEvent;

namespace orvik::launcher {

// A push button with a context menu of its own: a right click, the Menu key or Shift+F10 offers
// the menu's actions, if it has any; a left click, Space or Enter is an ordinary click. A frame
// shows when it has the keyboard focus.
class QContextPushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit QContextPushButton(QWidget* pParent = nullptr);

    QMenu& menu() { return m_Menu; }

signals:
    void contextTriggered(QString ActionText);

public slots:
    void onContextMenuActionTriggered(QAction* pAction);

protected:
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;

private:
    // From the keyboard the menu opens below the button with its first entry chosen.
    void popUpMenu(const QPoint& GlobalPosition, bool FromKeyboard);

    QMenu m_Menu;
};

} // namespace orvik::launcher
