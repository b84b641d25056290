#pragma once

#include "launcher/configuration/signaturepolicy.h"
#include "shared/network/contentencoding.h"
#include "shared/randomhints/randomhints.h"

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QTimer>
#include <QUrl>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace shared {
class TDownloadPool;
}

namespace orvik::launcher {

class TDocumentMirrors;
class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TRollbackFloor;
struct TPackageBuild;

// The documents of one package build that are still awaited.
struct TPendingPackageConfiguration
{
    TPackageBuild* pBuild = nullptr; // receives the parsed configuration; owned by its package
    QUrl PackageUrl;
    QUrl AssetUrl; // may be empty: the build has no asset document
    // Fetched from the server, so bound by the configuration's pins when documents are signed;
    // local copies carry their own signatures.
    bool bRemote = false;
    // Only when documents must be signed: where each document's signature lies.
    QUrl PackageSignatureUrl;
    QUrl AssetSignatureUrl;
    QByteArray PackageData;
    QByteArray AssetData;
    QByteArray PackageSignature;
    QByteArray AssetSignature;
};

// Fetches every remote document the launcher needs before it can act: the launcher configuration
// (falling back to the local copy of the last good one when the server does not answer in time),
// the package and asset documents of the builds for this machine, and the hints. Owns the current
// launcher configuration. Lives on the GUI thread.
class TLauncherConfigurationHandler : public QObject
{
    Q_OBJECT

public:
    TLauncherConfigurationHandler(
        std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
        std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    ~TLauncherConfigurationHandler() override;

    void requestMainConfiguration();
    void requestPackageConfigurations();
    void loadLocalConfiguration();
    // Adds a random "nocache" query item when the settings ask for cache busting.
    QUrl appendNocache(const QUrl& Url) const;

    const std::shared_ptr<TLauncherConfigurationReader>& getLauncherConfiguration() const
    {
        return m_pLauncherConfiguration;
    }
    const std::shared_ptr<::shared::TDownloadPool>& getDownloadPool() const
    {
        return m_pDownloadPool;
    }
    bool isLocalConfiguration() const { return m_bLocalConfiguration; }
    // Whether the last failed request for the configuration never reached the service (no
    // route, no name, refused, no proxy), as opposed to an answer of the service itself.
    bool isServiceUnreachable() const { return m_bServiceUnreachable; }
    const ::shared::THint& getCurrentHint() const { return m_CurrentHint; }
    const std::vector<::shared::THint>& getHints() const { return m_Hints; }
    // Where the last good configuration is kept.
    QString localConfigurationPath() const;
    // Where the highest serial of a signed configuration accepted so far is kept.
    QString acceptedSerialPath() const;

signals:
    void mainConfigurationLoaded();
    void mainConfigurationDownloadFailed();
    void diskAccessFailed(QString ErrorMessage);
    void packageConfigurationDownloadsFinished();
    void hintAreaDataReceived(const ::shared::THint& Hint);
    void hintsAreaDataReceived(std::vector<::shared::THint> Hints);
    // A document the configuration names failed on one of the places that serve the tree.
    void documentFailedOnBase(QUrl Url, QString BaseRoot, QString Reason);

public slots:
    void onConfigurationDownloadFinished(QUrl Url, QByteArray Data);
    void onConfigurationDownloadFailed(QUrl Url, QNetworkReply::NetworkError Code,
                                       QString ErrorString);
    void onErrorTimerExpired();

private:
    void acceptMainConfiguration(std::shared_ptr<TLauncherConfigurationReader> pConfiguration,
                                 const QByteArray& Signature);
    // With signatures required: takes the configuration once it and its signature are in.
    void acceptSignedMainConfiguration();
    void refuseMainConfiguration(const QString& Reason);
    // Why a validly signed configuration must still not be used; empty when it may.
    QString trustRefusalReason(const TLauncherConfigurationReader& Configuration) const;
    // The serial below which a signed configuration is a replay.
    TRollbackFloor rollbackFloor() const;
    // The configured key's verdict on a build's documents, and for downloaded ones the
    // configuration's pins: each document that must not be used, with the reason.
    std::vector<std::pair<QUrl, QString>>
    documentRefusals(const TPendingPackageConfiguration& Record) const;
    // Asks the next place that serves the tree for a document that failed where it was asked
    // last; false when there is none.
    bool askElsewhere(const QUrl& Url, qint64 Limit, const QString& Reason,
                      ::shared::EAcceptedEncoding Accepted = ::shared::EAcceptedEncoding::Identity);
    // Asks elsewhere for each refused document of the record, with its signature; false when
    // one of them cannot be asked again, and the build cannot be completed.
    bool askElsewhere(TPendingPackageConfiguration& Record,
                      const std::vector<std::pair<QUrl, QString>>& Refusals);
    // Why a downloaded document is not the one the configuration pins; empty when it is.
    QString pinRefusalReason(const QUrl& Url, const QByteArray& Data) const;
    qint64 packageDocumentLimit(const TPendingPackageConfiguration& Record, const QUrl& Url) const;
    void acceptHints(const QByteArray& Data);
    void acceptPackageDocument(const QUrl& Url, const QByteArray& Data);
    // The addresses as the configuration names them; Remote adds the cache busting.
    void addPendingRecord(TPackageBuild* pBuild, const QUrl& PackageUrl, const QUrl& AssetUrl,
                          bool Remote);
    void addLocalPendingRecord(TPackageBuild* pBuild, const QString& DirectoryName);
    QString packagesDirectory();

    std::shared_ptr<::shared::TDownloadPool> m_pDownloadPool;
    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    QUrl m_ConfigurationUrl;
    TSignaturePolicy m_SignaturePolicy;
    QUrl m_ConfigurationSignatureUrl; // empty unless signatures are required
    std::optional<QByteArray> m_ReceivedConfiguration;
    std::optional<QByteArray> m_ReceivedConfigurationSignature;
    QTimer m_ErrorTimer;
    std::shared_ptr<TLauncherConfigurationReader> m_pLauncherConfiguration;
    bool m_bLocalConfiguration = false;
    bool m_bServiceUnreachable = false;
    ::shared::THint m_CurrentHint;
    std::vector<::shared::THint> m_Hints;
    std::vector<TPendingPackageConfiguration> m_PendingPackageConfigurations;
    // Only while a configuration fresh from the server names mirrors.
    std::unique_ptr<TDocumentMirrors> m_pDocumentMirrors;
};

} // namespace orvik::launcher
