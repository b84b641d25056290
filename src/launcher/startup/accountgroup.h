#pragma once

#include <QString>

namespace orvik::launcher {

class TLauncherFilesystemHelper;

// Reads the account group from the per-user account group file. Every problem is logged as a
// warning and yields an empty group: a broken file never stops the start-up.
QString readAccountGroup(TLauncherFilesystemHelper& filesystemHelper);

} // namespace orvik::launcher
