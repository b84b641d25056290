#pragma once

#include <QString>
#include <QtGlobal>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

class TSignaturePolicy;

// A serial and the file that carries it, for the log.
struct THeldSerial
{
    qint64 Serial = -1; // none held
    QString Holder;
};

// The lowest serial a signed launcher configuration may carry to be taken: an older one, however
// validly signed, would take the game back to an earlier publish and delete what came since. The
// floor is the highest serial of every signed thing the launcher holds: the serial file written
// with each acceptance and the signed local copy of the configuration last taken. Losing,
// emptying or damaging any one of them never lowers it, as the other still carries the serial.
class TRollbackFloor
{
public:
    TRollbackFloor(::shared::TFileSystemHelper& FileSystem, QString SerialPath,
                   QString LocalCopyPath);

    // Reads every holder anew. One that cannot be read counts for nothing, and the local copy
    // counts only with a valid signature by the policy's key: a damaged copy must not raise the
    // floor past every configuration the studio will ever sign.
    THeldSerial highest(const TSignaturePolicy& Policy) const;
    // Writes a serial just accepted to the serial file unless the file already holds as much.
    // Throws the uniform I/O error.
    void raise(qint64 Serial) const;

private:
    qint64 storedSerial() const;
    qint64 localCopySerial(const TSignaturePolicy& Policy) const;

    ::shared::TFileSystemHelper& m_FileSystem;
    QString m_SerialPath;
    QString m_LocalCopyPath;
};

} // namespace orvik::launcher
