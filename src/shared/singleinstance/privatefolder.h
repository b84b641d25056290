#pragma once

#include <QString>

namespace shared {

// A folder of this user's that no other user may enter, for what another user must neither
// take nor replace: the single-instance lock and the door of the running program.
struct TPrivateFolder
{
    // Empty when it could not be had; Problem then says why.
    QString Path;
    QString Problem;
};

// Makes the folder Name with mode 0700 in the user's runtime folder (XDG_RUNTIME_DIR), or in the
// application's data folder when there is none of this user's. An existing folder must be this
// user's own and not a symbolic link; when others could enter it, it is closed to them.
TPrivateFolder makePrivateFolder(const QString& Name);

} // namespace shared
