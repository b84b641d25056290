#pragma once

// The product's names and fixed values: the ground floor every folder of the launcher may use.

#include <QString>

namespace orvik::launcher::constants {

// The version this launcher was built as: defined in a source the build generates from the
// project's version (launcherversion.cpp.in), so that test launchers of another version are one
// small source and a link away.
extern const QString kLauncherVersion;
inline const QString kApplicationName = QStringLiteral("Kestrun Online");
inline const QString kOrganizationName = QStringLiteral("Halvern GmbH");
inline const QString kOrganizationDomain = QStringLiteral("halvern.com");
// The name of the desktop entry, the icons and the AppStream metadata (the maker's domain
// reversed).
inline const QString kDesktopFileName = QStringLiteral("com.halvern.KestrunLauncher");
// The translations beside the executable are "launcher.en.qm", "launcher.de.qm" and so on.
inline const QString kTranslationBaseName = QStringLiteral("launcher");
inline const QString kSingleInstanceKey = QStringLiteral("1b7a377a-e61e-4016-a479-7054bc72a4f8");
inline const QString kForcedUpdateMarker = QStringLiteral("FORCE_PATCH");
inline const QString kOldVersionSuffix = QStringLiteral(".old");
inline const QString kFunnelIdentifierKey = QStringLiteral("FunnelUuid");

inline const QString kLoadingSplashImage = QStringLiteral(":/images/launcher/LauncherLogo_QT.png");
inline const QString kUpdatingSplashImage =
    QStringLiteral(":/images/launcher/LauncherLogo_UpdatingLauncher.png");

} // namespace orvik::launcher::constants
