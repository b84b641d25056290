#pragma once

#include "launcher/configuration/packageconfigurationreader.h"

#include <QUrl>
#include <QtGlobal>

#include <memory>

namespace orvik::launcher {

enum class EBuildOperatingSystem : qint32 { Unknown = 0, Windows = 1, MacOS = 2, Linux = 3 };
enum class EBuildArchitecture : qint32 { Unknown = 0, I386 = 1, X86_64 = 2 };

// One build of a package for one operating system and architecture.
struct TPackageBuild
{
    EBuildOperatingSystem m_OperatingSystem = EBuildOperatingSystem::Unknown;
    EBuildArchitecture m_Architecture = EBuildArchitecture::Unknown;
    QUrl m_Url;
    QUrl m_AssetsUrl;
    // The wanted configuration, once its documents have been downloaded.
    std::unique_ptr<TPackageConfigurationReader> m_pConfiguration;
};

EBuildOperatingSystem operatingSystemFromText(const QString& text);
EBuildArchitecture architectureFromText(const QString& text);

// The machine the launcher runs on, as builds describe it.
EBuildOperatingSystem currentOperatingSystem();
EBuildArchitecture currentArchitecture();

} // namespace orvik::launcher
