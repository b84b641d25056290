#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QString>

namespace orvik::launcher {

// What a tile says about a running download: a speed that does not jump with every sample and
// the time left at that speed. Samples are the bytes received so far at a point in time; the
// speed is an exponential average whose weight follows the time between samples, so it reads
// the same whether samples come ten times a second or once.
class TTransferEstimate
{
public:
    // How long a change of speed takes to show two thirds of itself.
    static constexpr double kTimeConstantSeconds = 3.0;

    void reset();
    void addSample(double Seconds, TFileSize BytesSoFar);

    // Bytes per second; false until two samples are in.
    bool rate(double& BytesPerSecond) const;
    // Seconds left for Remaining bytes at the current speed; false while it is unknown.
    bool secondsLeft(TFileSize Remaining, double& Seconds) const;

private:
    bool m_bHasSample = false;
    bool m_bHasRate = false;
    double m_LastSeconds = 0;
    TFileSize m_LastBytes = 0;
    double m_Rate = 0;
};

namespace progresstext {

// "2 min left", "45 s left", "1 h 5 min left".
QString timeLeftText(double Seconds);
// "43 %" of the whole installation: the bytes to fetch and the bytes to write both count, so
// the value only grows while the download ends and the writing catches up.
int installationPercent(TFileSize Downloaded, TFileSize ToDownload, TFileSize Written,
                        TFileSize ToWrite);

} // namespace progresstext

} // namespace orvik::launcher
