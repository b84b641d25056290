#include "shared/singleinstance/singleinstanceguard.h"

namespace shared {

TSingleInstanceGuard::TSingleInstanceGuard(const QString& key) : m_SharedMemory(key) {}

TSingleInstanceGuard::EOutcome TSingleInstanceGuard::acquire()
{
    // A launcher that was killed leaves its segment behind, which would refuse every later start
    // until reboot. Detaching the last attachment removes a segment, so attaching and detaching
    // frees one that no live process holds, while a live instance keeps its own alive.
    if (m_SharedMemory.attach(QSharedMemory::ReadOnly))
        m_SharedMemory.detach();

    if (m_SharedMemory.create(1, QSharedMemory::ReadWrite))
        return EOutcome::Acquired;
    if (m_SharedMemory.error() == QSharedMemory::AlreadyExists)
        return EOutcome::AlreadyRunning;
    return EOutcome::Failed;
}

} // namespace shared
