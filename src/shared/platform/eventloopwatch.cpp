#include "shared/platform/eventloopwatch.h"

#include <algorithm>

namespace shared {

TEventLoopWatch::TEventLoopWatch(QObject* pParent) : QObject(pParent)
{
    m_Timer.setInterval(kTickMs);
    m_Timer.setTimerType(Qt::PreciseTimer);
    connect(&m_Timer, &QTimer::timeout, this, &TEventLoopWatch::onTick);
}

void TEventLoopWatch::start()
{
    m_LargestDelayMs = 0;
    m_SinceLastTick.start();
    m_Timer.start();
}

qint64 TEventLoopWatch::stop()
{
    if (m_Timer.isActive())
        onTick();
    m_Timer.stop();
    return m_LargestDelayMs;
}

void TEventLoopWatch::onTick()
{
    const qint64 elapsed = m_SinceLastTick.restart();
    m_LargestDelayMs = std::max(m_LargestDelayMs, elapsed - kTickMs);
}

} // namespace shared
