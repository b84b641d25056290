#include "launcher/logging/logwriter.h"

namespace orvik::launcher {

TLogWriter::TLogWriter() : m_Thread([this] { run(); }) {}

TLogWriter::~TLogWriter()
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_bStopping = true;
    }
    m_Wake.notify_one();
    m_Thread.join();
}

void TLogWriter::setFile(QSharedPointer<QFile> pFile)
{
    flush();
    std::lock_guard<std::mutex> lock(m_Mutex);
    m_pFile = std::move(pFile);
}

void TLogWriter::append(QByteArray Line)
{
    {
        std::lock_guard<std::mutex> lock(m_Mutex);
        m_Pending.push_back(std::move(Line));
        ++m_AppendedCount;
    }
    m_Wake.notify_one();
}

void TLogWriter::flush()
{
    std::unique_lock<std::mutex> lock(m_Mutex);
    const quint64 target = m_AppendedCount;
    m_Written.wait(lock, [&] { return m_WrittenCount >= target; });
}

void TLogWriter::run()
{
    std::vector<QByteArray> batch;
    std::unique_lock<std::mutex> lock(m_Mutex);
    for (;;) {
        m_Wake.wait(lock, [&] { return m_bStopping || !m_Pending.empty(); });
        if (m_Pending.empty() && m_bStopping)
            return;
        batch.swap(m_Pending);
        const QSharedPointer<QFile> file = m_pFile;
        lock.unlock();
        // Lines are whole in the file even when many threads log at once: only this thread
        // writes, one line after the other.
        if (file && file->isOpen()) {
            for (const QByteArray& line : batch)
                file->write(line);
            file->flush();
        }
        const quint64 written = batch.size();
        batch.clear();
        lock.lock();
        m_WrittenCount += written;
        m_Written.notify_all();
    }
}

} // namespace orvik::launcher
