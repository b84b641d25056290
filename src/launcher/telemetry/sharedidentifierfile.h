#pragma once

#include <QString>

class QDir;

namespace orvik::launcher {

// The funnel's device identifier as the game client finds it: "kestrunShared.json" in
// "Kestrun Online" below the generic per-user data location, and a copy in each verified package.
QString sharedIdentifierFileName();
QString sharedIdentifierFilePath();

// Only into a directory that is already there: the game client creates it when it wants the
// identifier, and the launcher leaves no directories behind for a client never installed.
// A failed write is logged and otherwise ignored.
void writeSharedIdentifierFile(const QString& Identifier);

// Puts a copy of the shared file, when there is one, into a package's installation directory,
// replacing an older copy. A failure is logged: the identifier is no reason to fail an install.
void copySharedIdentifierFileInto(const QDir& InstallationDirectory);

} // namespace orvik::launcher
