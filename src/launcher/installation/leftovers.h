#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QDateTime>
#include <QDir>

namespace orvik::launcher {

// A launcher that was killed may have left temporary files of a marker write or of a chunk move
// in the installation. Nothing refers to them; they would only take the player's disk space for
// good. Removes those below Directory that were last written before WrittenBefore (the start of
// this launcher, so that a write of this run in progress is never touched) and that ListedFiles
// does not name. Runs with the planning, on the pool: a game of many files takes a while to walk.
void removeLeftOversOfInterruptedRuns(const QDir& Directory,
                                      const TFileInPackageVector& ListedFiles,
                                      const QDateTime& WrittenBefore);

// When this process started: every file it writes is newer.
QDateTime launcherStartTime();

} // namespace orvik::launcher
