#pragma once

#include <QMenu>
#include <QPushButton>
#include <QString>

class QAction;
class QContextMenuEvent;

namespace orvik::launcher {

// A push button with a context menu of its own: a right click offers the menu's actions, if it
// has any; a left click stays an ordinary click.
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

private:
    QMenu m_Menu;
};

} // namespace orvik::launcher
