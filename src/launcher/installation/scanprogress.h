#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QMutex>

#include <functional>

namespace orvik::launcher {

// Bytes done out of a fixed total, counted by many workers; each step is reported at once, in
// the order the steps were counted.
class TScanProgress
{
public:
    using TReport = std::function<void(TFileSize Done, TFileSize Total)>;

    TScanProgress(TFileSize Total, TReport Report) : m_Total(Total), m_Report(std::move(Report)) {}

    void add(TFileSize Bytes)
    {
        QMutexLocker lock(&m_Mutex);
        m_Done += Bytes;
        if (m_Report)
            m_Report(m_Done, m_Total);
    }

private:
    QMutex m_Mutex;
    TFileSize m_Done = 0;
    const TFileSize m_Total;
    const TReport m_Report;
};

} // namespace orvik::launcher
