#pragma once

#include <QString>
#include <QStringList>

namespace shared {

// Makes Files (absolute paths below Root), their content, their modes and their names, durable:
// whatever is written afterwards (a marker that calls them complete) can then never outlive
// them in a power cut. One syncfs writes the whole file system back in one sweep, which the disk
// orders far better than thousands of single flushes; the fsync of each file and of each folder
// from its own up to Root that follows then costs next to nothing on a local disk, and reaches
// file systems whose syncfs does not go through (FUSE, some network ones). A listed file that is
// not there is skipped: there is nothing of it to keep. Throws the uniform I/O error when the
// system reports that data could not be written.
void makeDurable(const QString& Root, const QStringList& Files);

// Makes the removal of Paths (absolute, below Root) durable: every folder from theirs up to Root
// that is still there is synced, so that a record written afterwards which no longer names them
// never sees them come back after a power cut.
void makeRemovalsDurable(const QString& Root, const QStringList& Paths);

} // namespace shared
