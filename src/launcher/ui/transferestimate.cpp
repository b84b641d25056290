#include "launcher/ui/transferestimate.h"

#include <QCoreApplication>

#include <algorithm>
#include <cmath>

namespace orvik::launcher {

void TTransferEstimate::reset()
{
    *this = TTransferEstimate();
}

void TTransferEstimate::addSample(double Seconds, TFileSize BytesSoFar)
{
    if (!m_bHasSample || Seconds <= m_LastSeconds || BytesSoFar < m_LastBytes) {
        // A first sample, or a counter that started over: nothing to measure against.
        m_bHasSample = true;
        m_LastSeconds = Seconds;
        m_LastBytes = BytesSoFar;
        return;
    }
    const double interval = Seconds - m_LastSeconds;
    const double instant = double(BytesSoFar - m_LastBytes) / interval;
    const double weight = 1.0 - std::exp(-interval / kTimeConstantSeconds);
    m_Rate = m_bHasRate ? m_Rate + weight * (instant - m_Rate) : instant;
    m_bHasRate = true;
    m_LastSeconds = Seconds;
    m_LastBytes = BytesSoFar;
}

bool TTransferEstimate::rate(double& BytesPerSecond) const
{
    if (!m_bHasRate)
        return false;
    BytesPerSecond = m_Rate;
    return true;
}

bool TTransferEstimate::secondsLeft(TFileSize Remaining, double& Seconds) const
{
    // Below a hundred bytes a second the guess would be days of nothing.
    if (!m_bHasRate || m_Rate < 100)
        return false;
    Seconds = double(Remaining) / m_Rate;
    return true;
}

namespace progresstext {

QString timeLeftText(double Seconds)
{
    const qint64 whole = qint64(std::ceil(std::max(0.0, Seconds)));
    if (whole < 60)
        return QCoreApplication::translate("progresstext", "%1 s left").arg(whole);
    const qint64 minutes = (whole + 30) / 60;
    if (minutes < 60)
        return QCoreApplication::translate("progresstext", "%1 min left").arg(minutes);
    return QCoreApplication::translate("progresstext", "%1 h %2 min left")
        .arg(minutes / 60)
        .arg(minutes % 60);
}

int installationPercent(TFileSize Downloaded, TFileSize ToDownload, TFileSize Written,
                        TFileSize ToWrite)
{
    const TFileSize total = ToDownload + ToWrite;
    if (total == 0)
        return 0;
    const TFileSize done = std::min(Downloaded, ToDownload) + std::min(Written, ToWrite);
    return int(done * 100 / total);
}

} // namespace progresstext

} // namespace orvik::launcher
