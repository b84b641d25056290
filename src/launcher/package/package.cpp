#include "launcher/package/package.h"

#include "launcher/package/documenturl.h"

#include <QJsonArray>

namespace orvik::launcher {

namespace {

std::unique_ptr<TPackageBuild> readBuild(const QJsonObject& object, const QUrl& baseUrl)
{
    auto build = std::make_unique<TPackageBuild>();
    build->m_OperatingSystem =
        operatingSystemFromText(object.value(QLatin1String("os")).toString());
    build->m_Architecture =
        architectureFromText(object.value(QLatin1String("architecture")).toString());
    build->m_Url = resolveDocumentUrl(object.value(QLatin1String("url")).toString(), baseUrl);
    if (object.contains(QLatin1String("assetsurl")))
        build->m_AssetsUrl =
            resolveDocumentUrl(object.value(QLatin1String("assetsurl")).toString(), baseUrl);
    return build;
}

} // namespace

TPackage::TPackage(qint32 Index, const QJsonObject& Object, const QUrl& BaseUrl)
    : m_Index(Index)
    , m_Name(Object.value(QLatin1String("name")).toString())
    , m_DirectoryName(Object.value(QLatin1String("directoryname")).toString())
    , m_bInstallAutomatically(Object.value(QLatin1String("installautomatically")).toBool(false))
{
    if (Object.contains(QLatin1String("logolinktarget")))
        m_LogoLinkTarget =
            QUrl(Object.value(QLatin1String("logolinktarget")).toString(), QUrl::TolerantMode);

    const QJsonValue builds = Object.value(QLatin1String("builds"));
    if (!builds.isArray())
        return;
    for (const QJsonValue& build : builds.toArray())
        m_Builds.push_back(readBuild(build.toObject(), BaseUrl));
}

TPackageBuild* TPackage::getBuildForThisMachine() const
{
    const EBuildOperatingSystem operatingSystem = currentOperatingSystem();
    const EBuildArchitecture architecture = currentArchitecture();
    for (const auto& build : m_Builds) {
        if (build->m_OperatingSystem == operatingSystem && build->m_Architecture == architecture)
            return build.get();
    }
    return nullptr;
}

TPackageConfigurationReader* TPackage::getConfiguration() const
{
    const TPackageBuild* build = getBuildForThisMachine();
    return build ? build->m_pConfiguration.get() : nullptr;
}

void TPackage::setLocalStatus(ELocalPackageStatus Status)
{
    if (m_LocalStatus == Status)
        return;
    m_LocalStatus = Status;
    emit localPackageStatusChanged();
}

} // namespace orvik::launcher
