#pragma once

#include <QString>

namespace orvik::launcher {

// How a self-update changes the launcher's files. The running launcher must start again whenever
// it is killed, so a file of the launcher is never changed in place and never missing: the old
// file is first kept as "<path>.old", the new one is written completely under a temporary name and
// then renamed over the path. A failed update puts the ".old" files back.
//
// All functions throw std::runtime_error with the uniform I/O error text.

QString oldVersionPath(const QString& Path);

// Keeps the file at Path as "<path>.old" while it stays where it is (a hard link, or a copy where
// the file system has none), replacing an earlier ".old". A folder where a file belongs is moved
// aside instead. Nothing happens when Path does not exist.
void keepOldVersion(const QString& Path);

// Moves what is at Path to "<path>.old": for a file the update deletes.
void moveAsideAsOldVersion(const QString& Path);

// A new, empty file beside Path whose name marks it as an interrupted write
// ("<path>.tmp-XXXXXX"), readable by everybody as an installed file would be.
QString createReplacementFile(const QString& Path);

// Renames the completely written TemporaryPath over Path and makes the rename durable.
void putReplacementInPlace(const QString& TemporaryPath, const QString& Path);

// Moves "<path>.old" back to Path; false when there is none.
bool restoreOldVersion(const QString& Path);

// Removes "<path>.old" (a file, or a folder moved aside); false when there is none.
bool removeOldVersion(const QString& Path);

// Removes the temporary files that interrupted writes of Path left beside it.
void removeInterruptedWritesOf(const QString& Path);

} // namespace orvik::launcher
