#include "launcher/configuration/launcherconfigurationhandler.h"

#include "launcher/configuration/configurationplace.h"
#include "launcher/configuration/documentlimits.h"
#include "launcher/configuration/documentmirrors.h"
#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/configuration/rollbackfloor.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/logging/logging.h"
#include "launcher/package/package.h"
#include "shared/network/downloadpool.h"
#include "shared/randomnumbergenerator/randomnumbergenerator.h"
#include "shared/signature/documentsignature.h"
#include "shared/signature/signeddocumentfile.h"

#include <QDebug>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrlQuery>

#include <algorithm>

namespace orvik::launcher {

namespace {

// Failures below HTTP: the request never reached the service (Qt numbers them below 200). A
// cancelled request is the launcher's own doing, such as a body over its limit.
bool isConnectionError(QNetworkReply::NetworkError Code)
{
    return Code != QNetworkReply::NoError && Code != QNetworkReply::OperationCanceledError &&
           Code < QNetworkReply::ContentAccessDenied;
}

const QString kLocalConfigurationFile = QStringLiteral("launchermetadata.json");
const QString kAcceptedSerialFile = QStringLiteral("launchermetadata.serial");
const QString kNocacheAlphabet =
    QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789");
constexpr int kNocacheLength = 32;

QDir appDataDirectory()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

bool waitsFor(const TPendingPackageConfiguration& record, const QUrl& url)
{
    const auto is = [&url](const QUrl& candidate) {
        return candidate.isValid() && candidate == url;
    };
    return is(record.PackageUrl) || is(record.AssetUrl) || is(record.PackageSignatureUrl) ||
           is(record.AssetSignatureUrl);
}

bool isSignatureOf(const TPendingPackageConfiguration& record, const QUrl& url)
{
    return (record.PackageSignatureUrl.isValid() && record.PackageSignatureUrl == url) ||
           (record.AssetSignatureUrl.isValid() && record.AssetSignatureUrl == url);
}

// Signatures are too short to gain from compression.
::shared::EAcceptedEncoding encodingOf(const TPendingPackageConfiguration& record, const QUrl& url,
                                       qint64 limit)
{
    return isSignatureOf(record, url) ? ::shared::EAcceptedEncoding::Identity
                                      : documentEncoding(limit);
}

bool isMissing(const QUrl& url, const QByteArray& data)
{
    return url.isValid() && data.isEmpty();
}

bool isComplete(const TPendingPackageConfiguration& record)
{
    return !isMissing(record.PackageUrl, record.PackageData) &&
           !isMissing(record.AssetUrl, record.AssetData) &&
           !isMissing(record.PackageSignatureUrl, record.PackageSignature) &&
           !isMissing(record.AssetSignatureUrl, record.AssetSignature);
}

void fill(TPendingPackageConfiguration& record, const QUrl& url, const QByteArray& data)
{
    // Identical package and asset URLs are fetched once; the answer fills both.
    if (url == record.PackageUrl)
        record.PackageData = data;
    if (url == record.AssetUrl)
        record.AssetData = data;
    if (record.PackageSignatureUrl.isValid() && url == record.PackageSignatureUrl)
        record.PackageSignature = data;
    if (record.AssetSignatureUrl.isValid() && url == record.AssetSignatureUrl)
        record.AssetSignature = data;
}

} // namespace

TLauncherConfigurationHandler::TLauncherConfigurationHandler(
    std::shared_ptr<::shared::TDownloadPool> pDownloadPool,
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper)
    : m_pDownloadPool(std::move(pDownloadPool))
    , m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
    , m_ConfigurationUrl(m_pLauncherFilesystemHelper->settings()->launcherConfiguration)
    , m_SignaturePolicy(m_pLauncherFilesystemHelper->settings()->documentPublicKey,
                        m_pLauncherFilesystemHelper->settings()->documentPublicKeyGiven)
{
    if (m_SignaturePolicy.isRequired())
        m_ConfigurationSignatureUrl = ::shared::signature::signatureUrl(m_ConfigurationUrl);
    m_ErrorTimer.setSingleShot(true);
    m_ErrorTimer.setInterval(
        static_cast<int>(m_pLauncherFilesystemHelper->settings()->downloadErrorTimeout));
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::success, this,
            &TLauncherConfigurationHandler::onConfigurationDownloadFinished);
    connect(m_pDownloadPool.get(), &::shared::TDownloadPool::failed, this,
            &TLauncherConfigurationHandler::onConfigurationDownloadFailed);
    connect(&m_ErrorTimer, &QTimer::timeout, this,
            &TLauncherConfigurationHandler::onErrorTimerExpired);
}

TLauncherConfigurationHandler::~TLauncherConfigurationHandler() = default;

void TLauncherConfigurationHandler::requestMainConfiguration()
{
    m_bLocalConfiguration = false;
    m_bServiceUnreachable = false;
    m_ReceivedConfiguration.reset();
    m_ReceivedConfigurationSignature.reset();
    if (const QString problem = m_SignaturePolicy.keyProblem(); !problem.isEmpty())
        qCritical().noquote() << problem << threadSuffix;
    // The settings are read before the log is open; what they tell decides what is taken here.
    for (const QString& note : m_pLauncherFilesystemHelper->settings()->notes)
        qWarning().noquote() << note << threadSuffix;
    // Started first: a pool that fails at once must find the request still pending.
    m_ErrorTimer.start();
    m_pDownloadPool->queueDownload(m_ConfigurationUrl, kLauncherConfigurationLimit,
                                   documentEncoding(kLauncherConfigurationLimit));
    if (m_SignaturePolicy.isRequired() && m_ErrorTimer.isActive())
        m_pDownloadPool->queueDownload(m_ConfigurationSignatureUrl, kSignatureLimit);
}

QString TLauncherConfigurationHandler::localConfigurationPath() const
{
    return m_pLauncherFilesystemHelper->fileSystem().resolvePathInsideDirectory(
        appDataDirectory(), kLocalConfigurationFile);
}

QString TLauncherConfigurationHandler::acceptedSerialPath() const
{
    return m_pLauncherFilesystemHelper->fileSystem().resolvePathInsideDirectory(
        appDataDirectory(), kAcceptedSerialFile);
}

TRollbackFloor TLauncherConfigurationHandler::rollbackFloor() const
{
    return TRollbackFloor(m_pLauncherFilesystemHelper->fileSystem(), acceptedSerialPath(),
                          localConfigurationPath());
}

void TLauncherConfigurationHandler::onConfigurationDownloadFinished(QUrl Url, QByteArray Data)
{
    if (m_pDocumentMirrors)
        Url = m_pDocumentMirrors->namedAddress(Url);
    if (Data.isEmpty()) {
        onConfigurationDownloadFailed(Url, QNetworkReply::ContentNotFoundError,
                                      QStringLiteral("Data stream is empty"));
        return;
    }
    if (Url == m_ConfigurationUrl) {
        // A configuration that arrives after the timer has fired is ignored: the local copy is
        // already in use and the launcher has moved on.
        if (!m_ErrorTimer.isActive())
            return;
        if (!m_SignaturePolicy.isRequired()) {
            m_ErrorTimer.stop();
            try {
                acceptMainConfiguration(
                    std::make_shared<TLauncherConfigurationReader>(
                        Data, m_ConfigurationUrl.adjusted(QUrl::RemoveFilename)),
                    QByteArray());
            } catch (const TLauncherConfigurationException& error) {
                qCritical() << "Launcher configuration could not be read:" << error.what()
                            << threadSuffix;
                emit mainConfigurationDownloadFailed();
            }
            return;
        }
        m_ReceivedConfiguration = Data;
        acceptSignedMainConfiguration();
        return;
    }
    if (m_SignaturePolicy.isRequired() && Url == m_ConfigurationSignatureUrl) {
        if (!m_ErrorTimer.isActive())
            return;
        m_ReceivedConfigurationSignature = Data;
        acceptSignedMainConfiguration();
        return;
    }
    if (m_pLauncherConfiguration && Url == m_pLauncherConfiguration->getHintsUrl()) {
        acceptHints(Data);
        return;
    }
    acceptPackageDocument(Url, Data);
}

void TLauncherConfigurationHandler::acceptSignedMainConfiguration()
{
    if (!m_ReceivedConfiguration || !m_ReceivedConfigurationSignature)
        return;
    const QString reason = m_SignaturePolicy.refusalReason(*m_ReceivedConfiguration,
                                                           *m_ReceivedConfigurationSignature);
    if (!reason.isEmpty()) {
        refuseMainConfiguration(reason);
        return;
    }
    std::shared_ptr<TLauncherConfigurationReader> configuration;
    try {
        configuration = std::make_shared<TLauncherConfigurationReader>(
            *m_ReceivedConfiguration, m_ConfigurationUrl.adjusted(QUrl::RemoveFilename));
    } catch (const TLauncherConfigurationException& error) {
        refuseMainConfiguration(QStringLiteral("not JSON: %1").arg(error.what()));
        return;
    }
    if (const QString refusal = trustRefusalReason(*configuration); !refusal.isEmpty()) {
        refuseMainConfiguration(refusal);
        return;
    }
    m_ErrorTimer.stop();
    acceptMainConfiguration(std::move(configuration), *m_ReceivedConfigurationSignature);
}

QString TLauncherConfigurationHandler::trustRefusalReason(
    const TLauncherConfigurationReader& Configuration) const
{
    const TDocumentTrustReader& trust = Configuration.getTrust();
    // Signed the old way, the configuration could be any earlier one and could name any
    // document: refused whole rather than half-checked.
    if (!trust.isPresent())
        return QStringLiteral("it carries no serial, expiry and document digests (sign it again "
                              "with kestrun-publish configure --key)");
    if (!trust.getInvalidReason().isEmpty())
        return trust.getInvalidReason();
    if (trust.getExpires() <= QDateTime::currentDateTimeUtc())
        return QStringLiteral("it expired on %1")
            .arg(trust.getExpires().toUTC().toString(Qt::ISODate));
    const QString channel = m_pLauncherFilesystemHelper->settings()->channel;
    if (QString misplaced = placeRefusalReason(trust, m_ConfigurationUrl, channel);
        !misplaced.isEmpty())
        return misplaced;
    const THeldSerial floor = rollbackFloor().highest(m_SignaturePolicy);
    if (trust.getSerial() < floor.Serial)
        return QStringLiteral("its serial %1 is older than the serial %2 already accepted (%3)")
            .arg(trust.getSerial())
            .arg(floor.Serial)
            .arg(floor.Holder);
    if (!trust.namesPlace())
        qWarning().noquote() << "Launcher configuration names neither its address nor a channel: "
                                "taken only while the settings pin no channel (configure it "
                                "again with --address or --channel)"
                             << threadSuffix;
    return {};
}

void TLauncherConfigurationHandler::refuseMainConfiguration(const QString& Reason)
{
    // Whoever could change the document on its way could also keep the server from answering:
    // the local copy, itself signed, is what a timeout would have given.
    qCritical().noquote() << "Launcher configuration refused:" << m_ConfigurationUrl.toString()
                          << Reason << threadSuffix;
    m_ErrorTimer.stop();
    loadLocalConfiguration();
}

void TLauncherConfigurationHandler::acceptMainConfiguration(
    std::shared_ptr<TLauncherConfigurationReader> pConfiguration, const QByteArray& Signature)
{
    m_pLauncherConfiguration = std::move(pConfiguration);
    m_pDocumentMirrors.reset();
    if (!m_pLauncherConfiguration->getMirrors().empty()) {
        auto mirrors = std::make_unique<TDocumentMirrors>(m_pLauncherConfiguration->getBaseUrl(),
                                                          m_pLauncherConfiguration->getMirrors());
        if (mirrors->hasMirrors())
            m_pDocumentMirrors = std::move(mirrors);
    }
    try {
        const QString path = localConfigurationPath();
        auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
        fileSystem.createDirectory(QFileInfo(path).absolutePath());
        // The offline start checks the copy as it checked the download: the two change as a
        // pair.
        ::shared::signature::replaceSignedDocument(path, m_pLauncherConfiguration->getData(),
                                                   Signature);
        if (!Signature.isEmpty())
            rollbackFloor().raise(m_pLauncherConfiguration->getTrust().getSerial());
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
    emit mainConfigurationLoaded();
}

void TLauncherConfigurationHandler::acceptHints(const QByteArray& Data)
{
    if (m_SignaturePolicy.isRequired()) {
        const QUrl url = m_pLauncherConfiguration->getHintsUrl();
        if (const QString reason = pinRefusalReason(url, Data); !reason.isEmpty()) {
            if (!askElsewhere(url, kHintsDocumentLimit, reason))
                qCritical().noquote()
                    << "Hints not used:" << url.toString() << reason << threadSuffix;
            return;
        }
    }
    std::vector<::shared::THint> hints = ::shared::parseHints(Data);
    const auto chosen = ::shared::chooseHintToDisplay(hints, QDateTime::currentDateTimeUtc());
    if (!chosen)
        return;
    m_CurrentHint = *chosen;
    m_Hints = std::move(hints);
    emit hintAreaDataReceived(m_CurrentHint);
    emit hintsAreaDataReceived(m_Hints);
}

void TLauncherConfigurationHandler::acceptPackageDocument(const QUrl& Url, const QByteArray& Data)
{
    bool matched = false;
    for (auto it = m_PendingPackageConfigurations.begin();
         it != m_PendingPackageConfigurations.end();) {
        if (!waitsFor(*it, Url)) {
            ++it;
            continue;
        }
        matched = true;
        fill(*it, Url, Data);
        if (!isComplete(*it)) {
            ++it;
            continue;
        }
        if (const auto refusals = documentRefusals(*it); !refusals.empty()) {
            if (askElsewhere(*it, refusals)) {
                ++it;
                continue;
            }
            // Both documents of a build are one installation: either refused refuses the build.
            for (const auto& [url, reason] : refusals)
                qCritical().noquote()
                    << "Package documents not used:" << url.toString() << reason << threadSuffix;
            it = m_PendingPackageConfigurations.erase(it);
            continue;
        }
        auto configuration = std::make_unique<TPackageConfigurationReader>(
            std::move(it->PackageData), std::move(it->AssetData),
            it->PackageUrl.adjusted(QUrl::RemoveFilename),
            it->AssetUrl.adjusted(QUrl::RemoveFilename));
        configuration->setSignatures(std::move(it->PackageSignature),
                                     std::move(it->AssetSignature));
        // An unusable document (an error page served with status 200, a truncated answer) must
        // not reach planning, which would take it for an empty package and delete the game.
        if (!configuration->isValid()) {
            const QString reason = configuration->getInvalidReason();
            std::vector<std::pair<QUrl, QString>> both{{it->PackageUrl, reason}};
            if (it->AssetUrl.isValid())
                both.emplace_back(it->AssetUrl, reason);
            // The documents were moved into the reader: both are asked again or none.
            if (askElsewhere(*it, both)) {
                ++it;
                continue;
            }
            qCritical() << "Package documents not used:" << it->PackageUrl << it->AssetUrl << reason
                        << threadSuffix;
        } else if (it->pBuild)
            it->pBuild->m_pConfiguration = std::move(configuration);
        it = m_PendingPackageConfigurations.erase(it);
    }
    if (matched && m_PendingPackageConfigurations.empty())
        emit packageConfigurationDownloadsFinished();
}

std::vector<std::pair<QUrl, QString>>
TLauncherConfigurationHandler::documentRefusals(const TPendingPackageConfiguration& Record) const
{
    if (!m_SignaturePolicy.isRequired())
        return {};
    const auto verdict = [&](const QUrl& url, const QByteArray& data, const QByteArray& signature) {
        if (!url.isValid())
            return QString();
        QString reason = m_SignaturePolicy.refusalReason(data, signature);
        // A validly signed document of another package or an earlier publish is still not the
        // one this configuration names.
        if (reason.isEmpty() && Record.bRemote)
            reason = pinRefusalReason(url, data);
        return reason;
    };
    std::vector<std::pair<QUrl, QString>> refusals;
    for (auto [url, reason] :
         {std::pair{Record.PackageUrl,
                    verdict(Record.PackageUrl, Record.PackageData, Record.PackageSignature)},
          std::pair{Record.AssetUrl,
                    verdict(Record.AssetUrl, Record.AssetData, Record.AssetSignature)}})
        if (!reason.isEmpty())
            refusals.emplace_back(std::move(url), std::move(reason));
    return refusals;
}

bool TLauncherConfigurationHandler::askElsewhere(const QUrl& Url, qint64 Limit,
                                                 const QString& Reason,
                                                 ::shared::EAcceptedEncoding Accepted)
{
    if (!m_pDocumentMirrors)
        return false;
    const QString place = m_pDocumentMirrors->placeAskedLast(Url);
    const std::optional<QUrl> next = m_pDocumentMirrors->nextAddress(Url, Reason);
    emit documentFailedOnBase(Url, place, Reason);
    if (!next)
        return false;
    m_pDownloadPool->queueDownload(*next, Limit, Accepted);
    return true;
}

bool TLauncherConfigurationHandler::askElsewhere(
    TPendingPackageConfiguration& Record, const std::vector<std::pair<QUrl, QString>>& Refusals)
{
    if (!m_pDocumentMirrors || !Record.bRemote)
        return false;
    QList<QUrl> asked;
    for (const auto& [url, reason] : Refusals) {
        // A document is checked by its signature: the one that came with it may be the fault.
        const QUrl signature =
            url == Record.PackageUrl ? Record.PackageSignatureUrl : Record.AssetSignatureUrl;
        for (const QUrl& document : {url, signature}) {
            // Identical package and asset addresses are one document.
            if (!document.isValid() || asked.contains(document))
                continue;
            asked.append(document);
            const qint64 limit = packageDocumentLimit(Record, document);
            if (!askElsewhere(document, limit, reason, encodingOf(Record, document, limit)))
                return false;
            fill(Record, document, QByteArray());
        }
    }
    return true;
}

QString TLauncherConfigurationHandler::pinRefusalReason(const QUrl& Url,
                                                        const QByteArray& Data) const
{
    if (!m_pLauncherConfiguration)
        return QStringLiteral("no launcher configuration pins it");
    return m_pLauncherConfiguration->getTrust().refusalReason(Url, Data);
}

qint64
TLauncherConfigurationHandler::packageDocumentLimit(const TPendingPackageConfiguration& Record,
                                                    const QUrl& Url) const
{
    if (isSignatureOf(Record, Url))
        return kSignatureLimit;
    // A pinned document longer than its pin is refused anyway: no need to read past it.
    if (Record.bRemote && m_SignaturePolicy.isRequired() && m_pLauncherConfiguration)
        if (const auto pinned = m_pLauncherConfiguration->getTrust().pinnedSize(Url))
            return qint64(std::min<TFileSize>(*pinned, TFileSize(kPackageDocumentLimit)));
    return kPackageDocumentLimit;
}

void TLauncherConfigurationHandler::onConfigurationDownloadFailed(QUrl Url,
                                                                  QNetworkReply::NetworkError Code,
                                                                  QString ErrorString)
{
    if (m_pDocumentMirrors)
        Url = m_pDocumentMirrors->namedAddress(Url);
    if (Url == m_ConfigurationUrl) {
        qCritical() << "Download of configuration failed:" << ErrorString << threadSuffix;
        // Once the timer has fired the launcher runs on the local copy; starting over now would
        // throw away installations in progress or end a session with the maintenance box.
        if (!m_ErrorTimer.isActive()) {
            qWarning() << "Late configuration failure ignored: the local copy is in use"
                       << threadSuffix;
            return;
        }
        m_ErrorTimer.stop();
        m_bServiceUnreachable = isConnectionError(Code);
        // The server says the configuration is gone or forbidden: that is maintenance, and an
        // old local copy must not hide it.
        if (Code == QNetworkReply::ContentAccessDenied ||
            Code == QNetworkReply::ContentNotFoundError)
            emit mainConfigurationDownloadFailed();
        else
            loadLocalConfiguration();
        return;
    }
    if (m_SignaturePolicy.isRequired() && Url == m_ConfigurationSignatureUrl) {
        if (!m_ErrorTimer.isActive())
            return;
        refuseMainConfiguration(
            QStringLiteral("signature missing (%1: %2)").arg(Url.toString(), ErrorString));
        return;
    }

    if (m_pLauncherConfiguration && Url == m_pLauncherConfiguration->getHintsUrl()) {
        if (!askElsewhere(Url, kHintsDocumentLimit, ErrorString))
            qWarning().noquote() << "Hints not used:" << Url.toString() << ErrorString
                                 << threadSuffix;
        return;
    }
    const auto waiting = std::find_if(
        m_PendingPackageConfigurations.begin(), m_PendingPackageConfigurations.end(),
        [&](const TPendingPackageConfiguration& record) { return waitsFor(record, Url); });
    if (waiting != m_PendingPackageConfigurations.end()) {
        const qint64 limit = packageDocumentLimit(*waiting, Url);
        if (askElsewhere(Url, limit, ErrorString, encodingOf(*waiting, Url, limit)))
            return;
    }
    // Every record waiting for this document loses it: one that kept waiting would hold back
    // the end of the package downloads forever.
    const auto failedEnd = std::remove_if(
        m_PendingPackageConfigurations.begin(), m_PendingPackageConfigurations.end(),
        [&](const TPendingPackageConfiguration& record) { return waitsFor(record, Url); });
    if (failedEnd == m_PendingPackageConfigurations.end())
        return;
    if (std::any_of(
            failedEnd, m_PendingPackageConfigurations.end(),
            [&](const TPendingPackageConfiguration& record) { return isSignatureOf(record, Url); }))
        qCritical().noquote() << "Package documents not used: signature missing:" << Url.toString()
                              << ErrorString << threadSuffix;
    qCritical() << "Download of package configuration/asset from configuration" << Url
                << "failed:" << ErrorString;
    m_PendingPackageConfigurations.erase(failedEnd, m_PendingPackageConfigurations.end());
    if (m_PendingPackageConfigurations.empty())
        emit packageConfigurationDownloadsFinished();
}

void TLauncherConfigurationHandler::onErrorTimerExpired()
{
    qCritical() << "Download of configuration timed out after" << m_ErrorTimer.interval()
                << "ms, using the local copy" << threadSuffix;
    m_ErrorTimer.stop();
    loadLocalConfiguration();
}

void TLauncherConfigurationHandler::loadLocalConfiguration()
{
    try {
        const QString path = localConfigurationPath();
        ::shared::signature::completeSignedDocumentReplacement(path);
        const QByteArray data = m_pLauncherFilesystemHelper->fileSystem().readFileIfExists(path);
        if (data.isEmpty()) {
            qCritical() << "No local copy of the launcher configuration at" << path << threadSuffix;
            emit mainConfigurationDownloadFailed();
            return;
        }
        if (m_SignaturePolicy.isRequired()) {
            const QString reason = m_SignaturePolicy.refusalReason(
                data, m_pLauncherFilesystemHelper->fileSystem().readFileIfExists(
                          ::shared::signature::signaturePath(path)));
            if (!reason.isEmpty()) {
                qCritical().noquote() << "Local copy of the launcher configuration refused:" << path
                                      << reason << threadSuffix;
                emit mainConfigurationDownloadFailed();
                return;
            }
        }
        auto configuration = std::make_shared<TLauncherConfigurationReader>(
            data, QUrl::fromLocalFile(path).adjusted(QUrl::RemoveFilename));
        // Taken from where it belonged, the copy may still be another channel's than the one the
        // settings pin now.
        if (m_SignaturePolicy.isRequired()) {
            const QString reason =
                placeRefusalReason(configuration->getTrust(), m_ConfigurationUrl,
                                   m_pLauncherFilesystemHelper->settings()->channel);
            if (!reason.isEmpty()) {
                qCritical().noquote() << "Local copy of the launcher configuration refused:" << path
                                      << reason << threadSuffix;
                emit mainConfigurationDownloadFailed();
                return;
            }
        }
        m_pLauncherConfiguration = std::move(configuration);
        // The documents of a local copy are on disk; there is nowhere else to ask.
        m_pDocumentMirrors.reset();
        qInfo() << "Local copy of the launcher configuration loaded from" << path << threadSuffix;
        m_bLocalConfiguration = true;
        emit mainConfigurationLoaded();
    } catch (const std::runtime_error& error) {
        qCritical() << "Local copy of the launcher configuration unusable:" << error.what()
                    << threadSuffix;
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
}

void TLauncherConfigurationHandler::requestPackageConfigurations()
{
    if (!m_pLauncherConfiguration)
        return;
    try {
        // The launcher's own package is only updated from a configuration fresh from the server.
        const auto& launcherPackage = m_pLauncherConfiguration->getLauncherPackage();
        if (!m_bLocalConfiguration && launcherPackage) {
            if (TPackageBuild* build = launcherPackage->getBuildForThisMachine())
                addPendingRecord(build, build->m_Url, build->m_AssetsUrl, true);
        }
        for (const auto& package : m_pLauncherConfiguration->getPackages()) {
            TPackageBuild* build = package->getBuildForThisMachine();
            if (!build)
                continue;
            if (m_bLocalConfiguration)
                addLocalPendingRecord(build, package->getDirectoryName());
            else
                addPendingRecord(build, build->m_Url, build->m_AssetsUrl, true);
        }
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
        return;
    }

    qInfo() << "requestPackageConfigurations documents awaited:"
            << m_PendingPackageConfigurations.size() << "local:" << m_bLocalConfiguration
            << threadSuffix;
    if (m_PendingPackageConfigurations.empty()) {
        emit packageConfigurationDownloadsFinished();
        return;
    }
    // Copies: a synchronous failure from the pool may change the list while it is walked.
    const std::vector<TPendingPackageConfiguration> records = m_PendingPackageConfigurations;
    for (const TPendingPackageConfiguration& record : records) {
        for (const QUrl* url : {&record.PackageUrl, &record.AssetUrl, &record.PackageSignatureUrl,
                                &record.AssetSignatureUrl})
            if (url->isValid()) {
                const qint64 limit = packageDocumentLimit(record, *url);
                m_pDownloadPool->queueDownload(*url, limit, encodingOf(record, *url, limit));
            }
    }
}

void TLauncherConfigurationHandler::addPendingRecord(TPackageBuild* pBuild, const QUrl& PackageUrl,
                                                     const QUrl& AssetUrl, bool Remote)
{
    // Nothing to fetch means nothing would ever complete the record.
    if (!PackageUrl.isValid() && !AssetUrl.isValid()) {
        qWarning() << "Package build without document address skipped" << threadSuffix;
        return;
    }
    const auto address = [this, Remote](const QUrl& url) {
        return Remote ? appendNocache(url) : url;
    };
    TPendingPackageConfiguration record;
    record.pBuild = pBuild;
    record.bRemote = Remote;
    record.PackageUrl = address(PackageUrl);
    record.AssetUrl = address(AssetUrl);
    if (m_SignaturePolicy.isRequired()) {
        // Each signature is fetched, and cache-busted, on its own.
        if (PackageUrl.isValid())
            record.PackageSignatureUrl = address(::shared::signature::signatureUrl(PackageUrl));
        if (AssetUrl.isValid())
            record.AssetSignatureUrl = address(::shared::signature::signatureUrl(AssetUrl));
    }
    m_PendingPackageConfigurations.push_back(std::move(record));
}

void TLauncherConfigurationHandler::addLocalPendingRecord(TPackageBuild* pBuild,
                                                          const QString& DirectoryName)
{
    const auto settings = m_pLauncherFilesystemHelper->settings();
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    const QDir packageDirectory(
        fileSystem.resolvePathInsideDirectory(QDir(packagesDirectory()), DirectoryName));
    addPendingRecord(pBuild, QUrl::fromLocalFile(packageDirectory.filePath(settings->packageFile)),
                     QUrl::fromLocalFile(packageDirectory.filePath(settings->assetFile)), false);
}

QString TLauncherConfigurationHandler::packagesDirectory()
{
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    const QString path = fileSystem.resolvePathInsideDirectory(
        appDataDirectory(), m_pLauncherFilesystemHelper->settings()->packages);
    return fileSystem.createDirectory(path).absolutePath();
}

QUrl TLauncherConfigurationHandler::appendNocache(const QUrl& Url) const
{
    if (!m_pLauncherFilesystemHelper->settings()->appendNocacheToPackageUrls || !Url.isValid())
        return Url;
    const auto generator = ::shared::TRandomNumberGenerator::instance();
    QString value;
    value.reserve(kNocacheLength);
    for (int i = 0; i < kNocacheLength; ++i)
        value += kNocacheAlphabet.at(
            static_cast<int>(generator->getRandom(0, kNocacheAlphabet.size() - 1)));
    QUrlQuery query(Url);
    query.addQueryItem(QStringLiteral("nocache"), value);
    QUrl result = Url;
    result.setQuery(query);
    return result;
}

} // namespace orvik::launcher
