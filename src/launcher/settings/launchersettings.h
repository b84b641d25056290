#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>

namespace orvik::launcher {

// The launcher's static configuration, read once at start-up and never written.
struct TLauncherSettings
{
    QUrl launcherConfiguration;
    QUrl cdnDiagnosticsTrace;
    bool appendNocacheToPackageUrls = false;
    QString packages;
    QString settingsTarget;
    QString packageFile;
    QString partialPackageFile;
    QString assetFile;
    QString accountGroupFile;
    qint64 waitNotificationTimeout = 0;
    qint64 downloadErrorTimeout = 0;
    qint64 clientStartTimeout = 0;
    // Seconds a body download may receive nothing before it fails and is tried again (on a
    // mirror, when there is one); 0 or less: the default of one minute.
    qint64 stallTimeout = 0;
    bool fastScan = true;
    bool skipVerification = true;
    bool chunkVerification = false;
    qint32 maxCachedChunks = 100;
    qint32 maxConcurrentDownloads = 10;
    // Bytes per second over all of an installation's downloads; 0 (or less, or not a number):
    // unlimited.
    qint64 maxDownloadRate = 0;
    // Funnel events and the hardware survey; a player or studio may switch both off.
    bool telemetry = true;
    // The base64 of the Ed25519 public key that signs the launcher configuration and the package
    // documents. Absent: documents are taken unsigned. Given: a document counts only with a valid
    // signature by this key, and a value that is not exactly one key (empty, or a list, which
    // QSettings makes of a comma) refuses every document.
    QString documentPublicKey;
    bool documentPublicKeyGiven = false;
    // With the key: the channel whose signed launcher configurations this launcher takes, and no
    // other's. Empty: none is pinned, and a configuration that names a channel must also name
    // the address it is served at.
    QString channel;
    // What reading the file noticed and the log should say, such as a group name that differs
    // from a known one only in case (and is taken as that group). The settings are read before
    // the log is open.
    QStringList notes;

    // Reads every value from an INI file. A missing or unreadable file yields the defaults;
    // there is no merging with any other file.
    static TLauncherSettings loadFromIniFile(const QString& path);
};

namespace settingskeys {
inline const QString kFileName = QStringLiteral("launchersettings.ini");
inline const QString kResourceDirectory = QStringLiteral(":/settings/");

inline const QString kUrls = QStringLiteral("URLS");
inline const QString kLauncherConfiguration = QStringLiteral("launcherConfiguration");
inline const QString kCdnDiagnosticsTrace = QStringLiteral("cdnDiagnosticsTrace");
inline const QString kAppendNocacheToPackageUrls = QStringLiteral("appendNocacheToPackageUrls");
inline const QString kDirectories = QStringLiteral("DIRECTORIES");
inline const QString kPackages = QStringLiteral("packages");
inline const QString kSettingsTarget = QStringLiteral("settingsTarget");
inline const QString kFiles = QStringLiteral("FILES");
inline const QString kPackageFile = QStringLiteral("packageFile");
inline const QString kPartialPackageFile = QStringLiteral("partialPackageFile");
inline const QString kAssetFile = QStringLiteral("assetFile");
inline const QString kAccountGroupFile = QStringLiteral("accountGroupFile");
inline const QString kTiming = QStringLiteral("TIMING");
inline const QString kWaitNotificationTimeout = QStringLiteral("waitNotificationTimeout");
inline const QString kDownloadErrorTimeout = QStringLiteral("downloadErrorTimeout");
inline const QString kClientStartTimeout = QStringLiteral("clientStartTimeout");
inline const QString kOptions = QStringLiteral("OPTIONS");
inline const QString kMaxCachedChunks = QStringLiteral("maxCachedChunks");
inline const QString kMaxConcurrentDownloads = QStringLiteral("maxConcurrentDownloads");
inline const QString kMaxDownloadRate = QStringLiteral("maxDownloadRate");
inline const QString kStallTimeout = QStringLiteral("stallTimeout");
inline const QString kSkipVerification = QStringLiteral("skipVerification");
inline const QString kFastScan = QStringLiteral("fastScan");
inline const QString kTelemetry = QStringLiteral("telemetry");
inline const QString kDebug = QStringLiteral("DEBUG");
inline const QString kChunkVerification = QStringLiteral("chunkVerification");
inline const QString kSecurity = QStringLiteral("SECURITY");
inline const QString kDocumentPublicKey = QStringLiteral("documentPublicKey");
inline const QString kChannel = QStringLiteral("channel");
} // namespace settingskeys

} // namespace orvik::launcher
