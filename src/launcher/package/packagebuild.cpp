#include "launcher/package/packagebuild.h"

#include <QSysInfo>

namespace orvik::launcher {

EBuildOperatingSystem operatingSystemFromText(const QString& text)
{
    if (text.compare(QLatin1String("windows"), Qt::CaseInsensitive) == 0)
        return EBuildOperatingSystem::Windows;
    if (text.compare(QLatin1String("macos"), Qt::CaseInsensitive) == 0)
        return EBuildOperatingSystem::MacOS;
    if (text.compare(QLatin1String("linux"), Qt::CaseInsensitive) == 0)
        return EBuildOperatingSystem::Linux;
    return EBuildOperatingSystem::Unknown;
}

EBuildArchitecture architectureFromText(const QString& text)
{
    if (text.compare(QLatin1String("i386"), Qt::CaseInsensitive) == 0)
        return EBuildArchitecture::I386;
    if (text.compare(QLatin1String("x86_64"), Qt::CaseInsensitive) == 0)
        return EBuildArchitecture::X86_64;
    return EBuildArchitecture::Unknown;
}

EBuildOperatingSystem currentOperatingSystem()
{
    const QString product = QSysInfo::productType();
    if (product == QLatin1String("windows"))
        return EBuildOperatingSystem::Windows;
    if (product == QLatin1String("osx") || product == QLatin1String("darwin"))
        return EBuildOperatingSystem::MacOS;
    if (QSysInfo::kernelType() == QLatin1String("linux"))
        return EBuildOperatingSystem::Linux;
    return EBuildOperatingSystem::Unknown;
}

EBuildArchitecture currentArchitecture()
{
    const QString architecture = QSysInfo::buildCpuArchitecture();
    if (architecture == QLatin1String("i386"))
        return EBuildArchitecture::I386;
    if (architecture == QLatin1String("x86_64"))
        return EBuildArchitecture::X86_64;
    return EBuildArchitecture::Unknown;
}

} // namespace orvik::launcher
