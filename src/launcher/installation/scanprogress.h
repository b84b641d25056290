#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QElapsedTimer>
#include <QMutex>

#include <functional>

namespace orvik::launcher {

// Bytes done out of a fixed total, counted by many workers. Reports go out in the order the
// steps were counted, at most one per interval, and always the one that reaches the total: each
// report is an event the window handles on its own thread, and a package of thousands of small
// files would post one per file, faster than the window redraws.
class TScanProgress
{
public:
    using TReport = std::function<void(TFileSize Done, TFileSize Total)>;

    static constexpr qint64 kReportIntervalMs = 100;

    TScanProgress(TFileSize Total, TReport Report) : m_Total(Total), m_Report(std::move(Report)) {}

    void add(TFileSize Bytes)
    {
        QMutexLocker lock(&m_Mutex);
        m_Done += Bytes;
        if (!m_Report)
            return;
        // Once only: a fresh installation scans nothing on disk, its total is 0, and every step
        // is past it.
        const bool reachesTotal = m_Done >= m_Total && !m_bTotalReported;
        if (!reachesTotal && m_SinceReport.isValid() && m_SinceReport.elapsed() < kReportIntervalMs)
            return;
        m_bTotalReported = m_bTotalReported || reachesTotal;
        m_SinceReport.start();
        m_Report(m_Done, m_Total);
    }

private:
    QMutex m_Mutex;
    TFileSize m_Done = 0;
    const TFileSize m_Total;
    const TReport m_Report;
    QElapsedTimer m_SinceReport;
    bool m_bTotalReported = false;
};

} // namespace orvik::launcher
