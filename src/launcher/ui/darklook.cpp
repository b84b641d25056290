#include "launcher/ui/darklook.h"

#include "launcher/ui/uistyle.h"

#include <QPainter>
#include <QWidget>

namespace orvik::launcher::darklook {

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
