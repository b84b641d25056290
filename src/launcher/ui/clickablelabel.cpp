#include "launcher/ui/clickablelabel.h"

namespace orvik::launcher {

void ClickableLabel::mousePressEvent(QMouseEvent* pEvent)
{
    QLabel::mousePressEvent(pEvent);
    emit clicked();
}

} // namespace orvik::launcher
