#pragma once

#include <QString>
#include <stdexcept>

class QFileDevice;

namespace shared {

// The one shape every file failure takes, so users and logs see the same wording everywhere.
std::runtime_error ioError(const QString& fileName, const QString& reason);

// Throws the uniform I/O error when the device reports any error since its last reset.
void throwIfDeviceFailed(const QFileDevice& device);

// A file that could not be written, with what a player is told kept apart: which file and the
// system's reason. A folder of the player's where a file goes is not a full disk, and the player
// must not be sent to free space for it. what() is the log's wording.
class TWriteError : public std::runtime_error
{
public:
    TWriteError(const std::string& What, const QString& FileName, const QString& Reason,
                bool OutOfSpace)
        : std::runtime_error(What)
        , m_FileName(FileName)
        , m_Reason(Reason)
        , m_bOutOfSpace(OutOfSpace)
    {}

    const QString& fileName() const { return m_FileName; }
    const QString& reason() const { return m_Reason; }
    // The disk or the player's quota is full (ENOSPC, EDQUOT).
    bool isOutOfSpace() const { return m_bOutOfSpace; }
    // The same failure, told under the name the player knows the file by.
    TWriteError named(const QString& FileName) const
    {
        return TWriteError(what(), FileName, m_Reason, m_bOutOfSpace);
    }

private:
    QString m_FileName;
    QString m_Reason;
    bool m_bOutOfSpace = false;
};

// A failed write on Device, with the device's reason; what() is ioError's wording with Context
// before the reason.
TWriteError writeError(const QString& fileName, const QString& context, const QFileDevice& device);
// The same with the system's reason for an errno value.
TWriteError writeError(const QString& fileName, const QString& context, int ErrorCode);

} // namespace shared
