#pragma once

#include "launcher/package/packagebuild.h"

#include <QJsonObject>
#include <QObject>
#include <QString>
#include <QUrl>

#include <limits>
#include <memory>
#include <vector>

namespace orvik::launcher {

// Values are compared as numbers by the user interface: keep them fixed.
enum class ELocalPackageStatus : qint32 {
    Unknown = 0,
    NotInstalled = 1,
    PartiallyInstalled = 2,
    UpdateAvailable = 3,
    Installed = 4,
};

// One installable package as the launcher configuration describes it, with its local state.
// Lives on the GUI thread; background work receives copies of its configuration, never the package.
class TPackage : public QObject
{
    Q_OBJECT

public:
    // The index of the package made from the configuration's "launcher" object.
    static constexpr qint32 LauncherPackageIndex = std::numeric_limits<qint32>::max();

    // Never fails: missing keys and wrong types give empty values.
    TPackage(qint32 Index, const QJsonObject& Object, const QUrl& BaseUrl);

    qint32 getIndex() const { return m_Index; }
    const QString& getName() const { return m_Name; }
    const QString& getDirectoryName() const { return m_DirectoryName; }
    const QUrl& getLogoLinkTarget() const { return m_LogoLinkTarget; }
    bool getInstallAutomatically() const { return m_bInstallAutomatically; }
    bool isLauncherPackage() const { return m_Index == LauncherPackageIndex; }
    const std::vector<std::unique_ptr<TPackageBuild>>& getBuilds() const { return m_Builds; }

    // The first build, in document order, for this machine; null when there is none.
    TPackageBuild* getBuildForThisMachine() const;
    // The downloaded configuration of that build; null when there is none yet.
    TPackageConfigurationReader* getConfiguration() const;

    ELocalPackageStatus getLocalStatus() const { return m_LocalStatus; }
    // Emits localPackageStatusChanged when the value differs.
    void setLocalStatus(ELocalPackageStatus Status);
    bool isDefault() const { return m_bIsDefault; }
    void setDefault(bool IsDefault) { m_bIsDefault = IsDefault; }
    bool isCheckedThisSession() const { return m_bCheckedThisSession; }
    void setCheckedThisSession(bool Checked) { m_bCheckedThisSession = Checked; }

signals:
    void localPackageStatusChanged();

private:
    qint32 m_Index;
    QString m_Name;
    QString m_DirectoryName;
    QUrl m_LogoLinkTarget;
    bool m_bInstallAutomatically = false;
    bool m_bCheckedThisSession = false;
    bool m_bIsDefault = false;
    std::vector<std::unique_ptr<TPackageBuild>> m_Builds;
    ELocalPackageStatus m_LocalStatus = ELocalPackageStatus::Unknown;
};

} // namespace orvik::launcher
