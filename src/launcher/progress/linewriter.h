#pragma once

#include <QByteArray>

#include <memory>
#include <thread>

namespace orvik::launcher {

// Writes whole lines to a file descriptor from a thread of its own, so a reader that is slow or
// never reads (a full pipe) cannot hold up the event loop. Lines are written in order, each with
// one write call per piece the system accepts; after a failed write (the reader went away) the
// rest is dropped.
class TLineWriter
{
public:
    explicit TLineWriter(int FileDescriptor);
    // Lets the queued lines out for up to two seconds; a reader that takes longer does not keep
    // the launcher from ending.
    ~TLineWriter();
    TLineWriter(const TLineWriter&) = delete;
    TLineWriter& operator=(const TLineWriter&) = delete;

    // Queues one line; the newline is added.
    void writeLine(const QByteArray& Line);

private:
    struct TShared;
    std::shared_ptr<TShared> m_pShared;
    std::thread m_Thread;
};

} // namespace orvik::launcher
