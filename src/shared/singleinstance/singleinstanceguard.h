#pragma once

#include <QString>

namespace shared {

// Marks this process as the one running instance of this user's through a lock on a file in the
// user's private folder (see privatefolder.h). The lock is the user's alone: another user's
// instance neither blocks nor is blocked by it, and the temporary folder plays no part. It lives
// as long as the guard, or the process: the system releases the lock of a killed process.
class TSingleInstanceGuard
{
public:
    enum class EOutcome { Acquired, AlreadyRunning, Failed };

    explicit TSingleInstanceGuard(const QString& Key);
    ~TSingleInstanceGuard();
    TSingleInstanceGuard(const TSingleInstanceGuard&) = delete;
    TSingleInstanceGuard& operator=(const TSingleInstanceGuard&) = delete;

    EOutcome acquire();
    // The private folder of the key, where the running instance also has its door; empty when
    // it could not be had.
    QString folder() const { return m_Folder; }
    // Why acquire() failed.
    QString errorString() const { return m_ErrorString; }

private:
    QString m_Key;
    QString m_Folder;
    QString m_ErrorString;
    int m_LockDescriptor = -1;
};

} // namespace shared
