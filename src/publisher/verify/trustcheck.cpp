#include "publisher/verify/trustcheck.h"

#include "launcher/configuration/configurationplace.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"

#include <QDir>
#include <QFile>

namespace orvik::publisher {

namespace {

std::vector<QUrl> namedDocuments(const launcher::TLauncherConfigurationReader& configuration)
{
    std::vector<std::shared_ptr<launcher::TPackage>> packages = configuration.getPackages();
    if (configuration.getLauncherPackage())
        packages.push_back(configuration.getLauncherPackage());
    std::vector<QUrl> documents;
    for (const auto& package : packages)
        for (const auto& build : package->getBuilds())
            for (const QUrl& url : {build->m_Url, build->m_AssetsUrl})
                if (!url.isEmpty())
                    documents.push_back(url);
    if (!configuration.getHintsUrl().isEmpty())
        documents.push_back(configuration.getHintsUrl());
    return documents;
}

} // namespace

std::vector<TFault> checkTrust(const launcher::TLauncherConfigurationReader& Configuration,
                               const QString& ConfigurationDocument, const QDateTime& Now)
{
    const launcher::TDocumentTrustReader& trust = Configuration.getTrust();
    if (!trust.isPresent())
        return {{ConfigurationDocument,
                 QStringLiteral("carries no serial, expiry and document digests: launchers "
                                "refuse it (configure it again with --key)")}};
    if (!trust.getInvalidReason().isEmpty())
        return {{ConfigurationDocument, trust.getInvalidReason()}};
    std::vector<TFault> faults;
    if (trust.getExpires() <= Now)
        faults.push_back(
            {ConfigurationDocument, QStringLiteral("expired on %1: launchers refuse it")
                                        .arg(trust.getExpires().toUTC().toString(Qt::ISODate))});
    for (const QUrl& url : namedDocuments(Configuration)) {
        const QString shown = url.toDisplayString(QUrl::PreferLocalFile);
        if (!trust.pinnedSize(url)) {
            faults.push_back({ConfigurationDocument, QStringLiteral("names '%1' without pinning "
                                                                    "its digest")
                                                         .arg(shown)});
            continue;
        }
        if (!url.isLocalFile())
            continue;
        QFile file(QDir::cleanPath(url.toLocalFile()));
        if (!file.open(QIODevice::ReadOnly)) {
            faults.push_back(
                {shown, QStringLiteral("pinned by the configuration but unreadable: %1")
                            .arg(file.errorString())});
            continue;
        }
        const QString reason = trust.refusalReason(url, file.readAll());
        if (!reason.isEmpty())
            faults.push_back({shown, reason});
    }
    return faults;
}

std::vector<TFault> checkPlace(const launcher::TLauncherConfigurationReader& Configuration,
                               const QString& ConfigurationDocument, const TExpectedPlace& Expected)
{
    const launcher::TDocumentTrustReader& trust = Configuration.getTrust();
    // checkTrust reports a configuration without a usable trust object; and which launchers
    // should take it is not known.
    if (!trust.isPresent() || !trust.getInvalidReason().isEmpty() || !Expected.isKnown())
        return {};
    const QString reason = launcher::placeRefusalReason(trust, Expected.Address, Expected.Channel);
    if (reason.isEmpty())
        return {};
    return {{ConfigurationDocument, QStringLiteral("launchers refuse it: %1").arg(reason)}};
}

} // namespace orvik::publisher
