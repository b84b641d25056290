#pragma once

#include <QByteArray>
#include <QFile>
#include <QSharedPointer>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace orvik::launcher {

// Writes log lines to the log file on a thread of its own. A thread that logs only queues its
// line: while an installation fills the disk cache, a write to the log can stall for hundreds of
// milliseconds, and the window must not stall with it.
class TLogWriter
{
public:
    TLogWriter();
    // Writes what is queued before it ends.
    ~TLogWriter();
    TLogWriter(const TLogWriter&) = delete;
    TLogWriter& operator=(const TLogWriter&) = delete;

    // Later lines go to this file; null drops them.
    void setFile(QSharedPointer<QFile> pFile);
    void append(QByteArray Line);
    // Returns once every line appended so far is written.
    void flush();

private:
    void run();

    std::mutex m_Mutex;
    std::condition_variable m_Wake;
    std::condition_variable m_Written;
    std::vector<QByteArray> m_Pending;
    QSharedPointer<QFile> m_pFile;
    quint64 m_AppendedCount = 0;
    quint64 m_WrittenCount = 0;
    bool m_bStopping = false;
    std::thread m_Thread;
};

} // namespace orvik::launcher
