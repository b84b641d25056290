#pragma once

#include "launcher/configuration/documenttrustreader.h"

#include <QByteArray>
#include <QList>
#include <QUrl>

#include <memory>
#include <stdexcept>
#include <vector>

namespace orvik::launcher {

class TPackage;

// The launcher configuration document is not JSON; what() is the parser's message.
class TLauncherConfigurationException : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// The parsed launcher configuration: packages, the launcher's own package and the service
// addresses. Immutable; a new document gives a new reader.
class TLauncherConfigurationReader
{
public:
    // BaseUrl is the directory of the document, against which relative build URLs resolve.
    // Throws TLauncherConfigurationException when Data is not well-formed JSON; nothing else fails.
    TLauncherConfigurationReader(const QByteArray& Data, const QUrl& BaseUrl);

    const QUrl& getBaseUrl() const { return m_BaseUrl; }
    const QByteArray& getData() const { return m_Data; }
    const std::shared_ptr<TPackage>& getLauncherPackage() const { return m_pLauncherPackage; }
    const std::vector<std::shared_ptr<TPackage>>& getPackages() const { return m_Packages; }
    const QUrl& getHardwareSurveyUrl() const { return m_HardwareSurveyUrl; }
    const QUrl& getHintsUrl() const { return m_HintsUrl; }
    const QUrl& getFunnelUrl() const { return m_FunnelUrl; }
    bool getPreventDefaultAutostart() const { return m_bPreventDefaultAutostart; }
    bool getShowPackageNames() const { return m_bShowPackageNames; }
    // Other places that serve the same tree, each as the address there of the folder this
    // document lies in.
    const QList<QUrl>& getMirrors() const { return m_Mirrors; }
    // What a signed configuration vouches for; absent from unsigned ones.
    const TDocumentTrustReader& getTrust() const { return m_Trust; }

private:
    QUrl m_BaseUrl;
    QByteArray m_Data;
    std::shared_ptr<TPackage> m_pLauncherPackage;
    std::vector<std::shared_ptr<TPackage>> m_Packages;
    QUrl m_HardwareSurveyUrl;
    QUrl m_HintsUrl;
    QUrl m_FunnelUrl;
    bool m_bPreventDefaultAutostart = false;
    bool m_bShowPackageNames = false;
    TDocumentTrustReader m_Trust;
    QList<QUrl> m_Mirrors;
};

} // namespace orvik::launcher
