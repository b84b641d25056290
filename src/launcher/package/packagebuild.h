#pragma once

#include <QUrl>
#include <QtGlobal>

#include <memory>

namespace orvik::launcher {

// The package model sits below the document readers: a reader makes packages, so a build only
// names the reader type and never includes it.
class TPackageConfigurationReader;

enum class EBuildOperatingSystem : qint32 { Unknown = 0, Windows = 1, MacOS = 2, Linux = 3 };
enum class EBuildArchitecture : qint32 { Unknown = 0, I386 = 1, X86_64 = 2 };

// One build of a package for one operating system and architecture.
struct TPackageBuild
{
    EBuildOperatingSystem m_OperatingSystem = EBuildOperatingSystem::Unknown;
    EBuildArchitecture m_Architecture = EBuildArchitecture::Unknown;
    QUrl m_Url;
    QUrl m_AssetsUrl;
    // The wanted configuration, once its documents have been downloaded. Owned by the build
    // alone; a shared pointer only because it deletes the reader without seeing its definition.
    std::shared_ptr<TPackageConfigurationReader> m_pConfiguration;
};

EBuildOperatingSystem operatingSystemFromText(const QString& text);
EBuildArchitecture architectureFromText(const QString& text);

// The machine the launcher runs on, as builds describe it.
EBuildOperatingSystem currentOperatingSystem();
EBuildArchitecture currentArchitecture();

} // namespace orvik::launcher
