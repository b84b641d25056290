#include "launcher/ui/qcontextpushbutton.h"

#include "launcher/logging/logging.h"
#include "launcher/ui/darklook.h"
#include "launcher/ui/logname.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QKeyEvent>

namespace orvik::launcher {

QContextPushButton::QContextPushButton(QWidget* pParent) : QPushButton(pParent), m_Menu(this)
{
    darklook::apply(&m_Menu);
    connect(&m_Menu, &QMenu::triggered, this, &QContextPushButton::onContextMenuActionTriggered);
}

void QContextPushButton::onContextMenuActionTriggered(QAction* pAction)
{
    emit contextTriggered(pAction->text());
}

void QContextPushButton::contextMenuEvent(QContextMenuEvent* pEvent)
{
    popUpMenu(pEvent->globalPos(), pEvent->reason() == QContextMenuEvent::Keyboard);
}

void QContextPushButton::keyPressEvent(QKeyEvent* pEvent)
{
    // Outside a dialog a push button answers Space only; players expect Enter to work as well.
    if ((pEvent->key() == Qt::Key_Return || pEvent->key() == Qt::Key_Enter) &&
        !pEvent->isAutoRepeat()) {
        pEvent->accept();
        click();
        return;
    }
    // The other key for a context menu, which the toolkit leaves to the application.
    if (pEvent->key() == Qt::Key_F10 && pEvent->modifiers() == Qt::ShiftModifier) {
        pEvent->accept();
        popUpMenu({}, true);
        return;
    }
    QPushButton::keyPressEvent(pEvent);
}

void QContextPushButton::paintEvent(QPaintEvent* pEvent)
{
    QPushButton::paintEvent(pEvent);
    if (hasFocus())
        darklook::paintFocusFrame(this);
}

void QContextPushButton::popUpMenu(const QPoint& GlobalPosition, bool FromKeyboard)
{
    if (m_Menu.actions().isEmpty())
        return;
    const QPoint position = FromKeyboard ? mapToGlobal(rect().bottomLeft()) : GlobalPosition;
    qInfo() << "Context menu of" << logname::of(this, toolTip()) << "opened at" << position.x()
            << position.y() << threadSuffix;
    m_Menu.popup(position);
    if (FromKeyboard)
        m_Menu.setActiveAction(m_Menu.actions().constFirst());
}

} // namespace orvik::launcher
