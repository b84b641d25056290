#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QDateTime>
#include <QDir>
#include <QString>

#include <vector>

namespace orvik::launcher {

// A launcher that was killed may have left temporary files of a marker write or of a chunk move
// in the installation. Nothing refers to them; they would only take the player's disk space for
// good. Removes those below Directory that were last written before WrittenBefore (the start of
// this launcher, so that a write of this run in progress is never touched) and that ListedFiles
// does not name. Runs with the planning, on the pool: a game of many files takes a while to walk.
void removeLeftOversOfInterruptedRuns(const QDir& Directory,
                                      const TFileInPackageVector& ListedFiles,
                                      const QDateTime& WrittenBefore);

// Removes the folders that held RemovedFiles (absolute, cleaned paths inside Directory) and are
// empty now, and their parents that are left empty in turn, up to Directory itself, which always
// stays. A folder with anything in it, a file of the player's among others, is kept.
void removeFoldersLeftEmpty(const QDir& Directory, const std::vector<QString>& RemovedFiles);

// When this process started: every file it writes is newer.
QDateTime launcherStartTime();

} // namespace orvik::launcher
