#pragma once

#include <QString>

namespace orvik::launcher {

// The way back of a self-update. The running launcher must start again whenever it is killed, so
// a file of the launcher is never changed in place and never missing: the old file is first kept
// as "<path>.old", and a failed update puts the ".old" files back.
//
// All functions throw std::runtime_error with the uniform I/O error text.

QString oldVersionPath(const QString& Path);

// Keeps the file at Path as "<path>.old" while it stays where it is (a hard link, or a copy where
// the file system has none), replacing an earlier ".old". A folder where a file belongs is moved
// aside instead. Nothing happens when Path does not exist.
void keepOldVersion(const QString& Path);

// Moves what is at Path to "<path>.old": for a file the update deletes.
void moveAsideAsOldVersion(const QString& Path);

// Moves "<path>.old" back to Path; false when there is none.
bool restoreOldVersion(const QString& Path);

// Removes "<path>.old" (a file, or a folder moved aside); false when there is none.
bool removeOldVersion(const QString& Path);

} // namespace orvik::launcher
