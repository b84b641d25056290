#pragma once

#include <QString>

namespace orvik::launcher::constants {

inline const QString kLauncherVersion = QStringLiteral("0.0.14");
inline const QString kApplicationName = QStringLiteral("Kestrun Online");
inline const QString kOrganizationName = QStringLiteral("Halvern GmbH");
inline const QString kOrganizationDomain = QStringLiteral("halvern.com");
inline const QString kTranslationFile = QStringLiteral("launcher.en");
inline const QString kSingleInstanceKey = QStringLiteral("1b7a377a-e61e-4016-a479-7054bc72a4f8");
inline const QString kForcedUpdateMarker = QStringLiteral("FORCE_PATCH");
inline const QString kOldVersionSuffix = QStringLiteral(".old");
inline const QString kFunnelIdentifierKey = QStringLiteral("FunnelUuid");

inline const QString kLoadingSplashImage = QStringLiteral(":/images/launcher/LauncherLogo_QT.png");
inline const QString kUpdatingSplashImage =
    QStringLiteral(":/images/launcher/LauncherLogo_UpdatingLauncher.png");

} // namespace orvik::launcher::constants
