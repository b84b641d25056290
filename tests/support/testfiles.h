#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

namespace testsupport {

// Writes a file, creating its parent directories. Returns false on any failure.
bool writeBytes(const QString& path, const QByteArray& bytes);
// The file's bytes, or an empty array when it cannot be read.
QByteArray readBytes(const QString& path);
// Every file below the directory (hidden ones too), by path relative to it, with its bytes.
QMap<QString, QByteArray> filesBelow(const QString& directory);

// The state letter of a process as /proc tells it ('T' when stopped), '?' when it is gone.
char processState(qint64 pid);

// Gives the test process the launcher's organisation and application names, which decide every
// per-user path.
void useLauncherIdentity();

// The launcher's per-user data directory under this test's private XDG_DATA_HOME.
QString kestrunDataDirectory();

} // namespace testsupport
