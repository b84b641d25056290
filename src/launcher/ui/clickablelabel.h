#pragma once

#include <QLabel>

namespace orvik::launcher {

// A label that reports every press, for the parts of a hint that open its link.
class ClickableLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent* pEvent) override;
};

} // namespace orvik::launcher
