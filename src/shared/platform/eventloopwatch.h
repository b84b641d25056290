#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace shared {

// Measures how long the event loop of its thread was kept from running: a short timer ticks,
// and the largest delay of a tick past its interval is the longest time the window could not
// answer the player.
class TEventLoopWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int kTickMs = 10;

    explicit TEventLoopWatch(QObject* pParent = nullptr);

    void start();
    // Stops and returns the largest delay since start, in milliseconds.
    qint64 stop();
    bool isRunning() const { return m_Timer.isActive(); }

private:
    void onTick();

    QTimer m_Timer;
    QElapsedTimer m_SinceLastTick;
    qint64 m_LargestDelayMs = 0;
};

} // namespace shared
