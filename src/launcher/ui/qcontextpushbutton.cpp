#include "launcher/ui/qcontextpushbutton.h"

#include <QAction>
#include <QContextMenuEvent>

namespace orvik::launcher {

QContextPushButton::QContextPushButton(QWidget* pParent) : QPushButton(pParent), m_Menu(this)
{
    connect(&m_Menu, &QMenu::triggered, this, &QContextPushButton::onContextMenuActionTriggered);
}

void QContextPushButton::onContextMenuActionTriggered(QAction* pAction)
{
    emit contextTriggered(pAction->text());
}

void QContextPushButton::contextMenuEvent(QContextMenuEvent* pEvent)
{
    if (m_Menu.actions().isEmpty())
        return;
    m_Menu.popup(pEvent->globalPos());
}

} // namespace orvik::launcher
