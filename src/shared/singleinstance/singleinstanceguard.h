#pragma once

#include <QSharedMemory>
#include <QString>

namespace shared {

// Marks this process as the one running instance through a system-wide shared-memory segment.
// The segment lives as long as the guard.
class TSingleInstanceGuard
{
public:
    enum class EOutcome { Acquired, AlreadyRunning, Failed };

    explicit TSingleInstanceGuard(const QString& key);

    EOutcome acquire();
    // The shared-memory error behind a Failed outcome.
    QSharedMemory::SharedMemoryError error() const { return m_SharedMemory.error(); }

private:
    QSharedMemory m_SharedMemory;
};

} // namespace shared
