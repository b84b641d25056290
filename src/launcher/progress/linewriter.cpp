#include "launcher/progress/linewriter.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <unistd.h>

namespace orvik::launcher {

namespace {

constexpr auto kDrainTimeout = std::chrono::seconds(2);

bool writeAll(int fd, const QByteArray& bytes)
{
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t result =
            ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (result < 0 && errno == EINTR)
            continue;
        if (result <= 0)
            return false;
        written += result;
    }
    return true;
}

} // namespace

// Shared with the thread, which may outlive the writer when a reader never drains its pipe.
struct TLineWriter::TShared
{
    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<QByteArray> Lines;
    bool bStopping = false;
    bool bFinished = false;
    int FileDescriptor = -1;

    void run()
    {
        bool failed = false;
        std::unique_lock<std::mutex> lock(Mutex);
        for (;;) {
            Changed.wait(lock, [this] { return bStopping || !Lines.empty(); });
            if (Lines.empty())
                break;
            const QByteArray line = std::move(Lines.front());
            Lines.pop_front();
            if (failed)
                continue;
            lock.unlock();
            failed = !writeAll(FileDescriptor, line);
            lock.lock();
        }
        bFinished = true;
        Changed.notify_all();
    }
};

TLineWriter::TLineWriter(int FileDescriptor) : m_pShared(std::make_shared<TShared>())
{
    m_pShared->FileDescriptor = FileDescriptor;
    m_Thread = std::thread([shared = m_pShared] { shared->run(); });
}

TLineWriter::~TLineWriter()
{
    bool finished = false;
    {
        std::unique_lock<std::mutex> lock(m_pShared->Mutex);
        m_pShared->bStopping = true;
        m_pShared->Changed.notify_all();
        finished = m_pShared->Changed.wait_for(lock, kDrainTimeout,
                                               [this] { return m_pShared->bFinished; });
    }
    if (finished)
        m_Thread.join();
    else
        m_Thread.detach();
}

void TLineWriter::writeLine(const QByteArray& Line)
{
    std::lock_guard<std::mutex> lock(m_pShared->Mutex);
    m_pShared->Lines.push_back(Line + '\n');
    m_pShared->Changed.notify_all();
}

} // namespace orvik::launcher
