#pragma once

#include <QByteArray>
#include <QString>

namespace shared {

// Replaces the file at path with bytes so that a crash at any moment leaves either the old
// content or the new one. Throws the uniform I/O error with the system's reason.
void replaceFileAtomically(const QString& path, const QByteArray& bytes);

// Temporary files of an interrupted replacement end in this marker and six random characters.
extern const QString kInterruptedWriteMarker;

// Whether a file name ends in the marker and six random characters, as the temporary files of
// this program do (their names come from QTemporaryFile's "XXXXXX" or replaceFileAtomically).
bool hasTemporarySuffix(const QString& fileName, const QString& marker);

} // namespace shared
