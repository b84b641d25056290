#include "launcher/ui/darklook.h"

#include "launcher/ui/uistyle.h"

#include <QChildEvent>
#include <QEvent>
#include <QPainter>
#include <QWidget>

namespace orvik::launcher::darklook {

namespace {

// The launcher's window has a style sheet, and below a style sheet Qt hands no palette down: the
// widgets a dialog was polished with, and those it makes after it got the dark look (a message
// box adds its OK button only when it is shown), came in the desktop's light colours. Each gets
// the look itself and passes it on to the children it polishes.
class TLookKeeper : public QObject
{
public:
    static constexpr const char* kName = "darklook keeper";

    explicit TLookKeeper(QWidget* pWindow) : QObject(pWindow)
    {
        setObjectName(QLatin1String(kName));
        pWindow->installEventFilter(this);
        for (QWidget* child : pWindow->findChildren<QWidget*>())
            passOn(child);
    }

    bool eventFilter(QObject* pWatched, QEvent* pEvent) override
    {
        if (pEvent->type() == QEvent::ChildPolished)
            if (auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(pEvent)->child()))
                passOn(child);
        return QObject::eventFilter(pWatched, pEvent);
    }

private:
    void passOn(QWidget* pChild)
    {
        if (pChild->isWindow())
            return;
        if (!pChild->testAttribute(Qt::WA_SetPalette))
            pChild->setPalette(palette());
        pChild->installEventFilter(this);
    }
};

} // namespace

QPalette palette()
{
    QPalette palette;
    for (const QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        palette.setColor(group, QPalette::Window, uistyle::kDialogBackground);
        palette.setColor(group, QPalette::Base, uistyle::kDialogBackground);
        palette.setColor(group, QPalette::AlternateBase, uistyle::kDialogButton);
        palette.setColor(group, QPalette::Button, uistyle::kDialogButton);
        palette.setColor(group, QPalette::WindowText, uistyle::kText);
        palette.setColor(group, QPalette::Text, uistyle::kText);
        palette.setColor(group, QPalette::ButtonText, uistyle::kText);
        palette.setColor(group, QPalette::BrightText, uistyle::kFocusFrame);
        palette.setColor(group, QPalette::Link, uistyle::kLink);
        palette.setColor(group, QPalette::LinkVisited, uistyle::kLink);
        // A chosen menu entry turns the colours round.
        palette.setColor(group, QPalette::Highlight, uistyle::kText);
        palette.setColor(group, QPalette::HighlightedText, uistyle::kDialogBackground);
        palette.setColor(group, QPalette::Light, uistyle::kDialogButton.lighter(150));
        palette.setColor(group, QPalette::Midlight, uistyle::kDialogButton.lighter(120));
        palette.setColor(group, QPalette::Mid, uistyle::kDialogButton.darker(120));
        palette.setColor(group, QPalette::Dark, uistyle::kDialogBackground.darker(150));
        palette.setColor(group, QPalette::Shadow, Qt::black);
    }
    palette.setColor(QPalette::Disabled, QPalette::Window, uistyle::kDialogBackground);
    palette.setColor(QPalette::Disabled, QPalette::Button, uistyle::kDialogButton);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, uistyle::kText.darker(140));
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, uistyle::kText.darker(140));
    palette.setColor(QPalette::Disabled, QPalette::Text, uistyle::kText.darker(140));
    return palette;
}

void apply(QWidget* pWindow)
{
    pWindow->setPalette(palette());
    pWindow->setAutoFillBackground(true);
    if (!pWindow->findChild<QObject*>(QLatin1String(TLookKeeper::kName),
                                      Qt::FindDirectChildrenOnly))
        new TLookKeeper(pWindow);
}

void paintFocusFrame(QWidget* pWidget)
{
    QPainter painter(pWidget);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(uistyle::kFocusFrame, 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(QRectF(pWidget->rect()).adjusted(1, 1, -1, -1), 3, 3);
}

} // namespace orvik::launcher::darklook
