#pragma once

#include <QProgressBar>

namespace orvik::launcher {

// A tile's progress bar. Its text is dark where it lies on the gold fill and light where it lies
// on the empty groove: no one colour is readable on both.
class TTileProgressBar : public QProgressBar
{
    Q_OBJECT

public:
    explicit TTileProgressBar(QWidget* pParent = nullptr);

    // The part of the bar the fill covers at the current value.
    QRect filledRect() const;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
};

} // namespace orvik::launcher
