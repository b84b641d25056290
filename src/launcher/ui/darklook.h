#pragma once

#include <QPalette>

class QWidget;

namespace orvik::launcher::darklook {

// Light text on the dark of the artwork, for what the style sheets do not draw: dialogs, menus
// and the links in their texts.
QPalette palette();

// Dialogs and menus are windows of their own and take no palette from the launcher's window.
void apply(QWidget* pWindow);

// The frame that shows where the keyboard is, drawn inside the widget's edge.
void paintFocusFrame(QWidget* pWidget);

} // namespace orvik::launcher::darklook
