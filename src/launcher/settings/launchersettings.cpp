#include "launcher/settings/launchersettings.h"

#include <QSettings>

#include <algorithm>

namespace orvik::launcher {

namespace {

// Reads one group's keys, so every group is opened and closed in one place.
class TGroupReader
{
public:
    TGroupReader(QSettings& settings, const QString& group) : m_Settings(settings)
    {
        m_Settings.beginGroup(group);
    }
    ~TGroupReader() { m_Settings.endGroup(); }

    QUrl url(const QString& key) const { return m_Settings.value(key, QUrl()).toUrl(); }
    bool flag(const QString& key, bool fallback) const
    {
        return m_Settings.value(key, fallback).toBool();
    }
    QString text(const QString& key) const { return m_Settings.value(key, QString()).toString(); }
    QString textOrList(const QString& key) const
    {
        return m_Settings.value(key, QString()).toStringList().join(QLatin1Char(','));
    }
    bool contains(const QString& key) const { return m_Settings.contains(key); }
    qint32 number(const QString& key, qint32 fallback) const
    {
        return m_Settings.value(key, fallback).toInt();
    }
    qint64 wideNumber(const QString& key, qint64 fallback) const
    {
        return m_Settings.value(key, fallback).toLongLong();
    }

private:
    QSettings& m_Settings;
};

} // namespace

TLauncherSettings TLauncherSettings::loadFromIniFile(const QString& path)
{
    using namespace settingskeys;
    QSettings ini(path, QSettings::IniFormat);
    TLauncherSettings s;
    {
        TGroupReader urls(ini, kUrls);
        s.launcherConfiguration = urls.url(kLauncherConfiguration);
        s.cdnDiagnosticsTrace = urls.url(kCdnDiagnosticsTrace);
        s.appendNocacheToPackageUrls = urls.flag(kAppendNocacheToPackageUrls, false);
    }
    {
        TGroupReader directories(ini, kDirectories);
        s.packages = directories.text(kPackages);
        s.settingsTarget = directories.text(kSettingsTarget);
    }
    {
        TGroupReader files(ini, kFiles);
        s.packageFile = files.text(kPackageFile);
        s.partialPackageFile = files.text(kPartialPackageFile);
        s.assetFile = files.text(kAssetFile);
        s.accountGroupFile = files.text(kAccountGroupFile);
    }
    {
        // Stored as 32-bit values and widened with their sign.
        TGroupReader timing(ini, kTiming);
        s.waitNotificationTimeout = timing.number(kWaitNotificationTimeout, 0);
        s.downloadErrorTimeout = timing.number(kDownloadErrorTimeout, 0);
        s.clientStartTimeout = timing.number(kClientStartTimeout, 0);
        s.stallTimeout = timing.number(kStallTimeout, 0);
    }
    {
        TGroupReader options(ini, kOptions);
        s.fastScan = options.flag(kFastScan, true);
        s.skipVerification = options.flag(kSkipVerification, true);
        s.maxCachedChunks = options.number(kMaxCachedChunks, 100);
        s.maxConcurrentDownloads = options.number(kMaxConcurrentDownloads, 10);
        s.maxDownloadRate = std::max<qint64>(options.wideNumber(kMaxDownloadRate, 0), 0);
        s.telemetry = options.flag(kTelemetry, true);
    }
    {
        TGroupReader debug(ini, kDebug);
        s.chunkVerification = debug.flag(kChunkVerification, false);
    }
    {
        TGroupReader security(ini, kSecurity);
        // A comma makes a list of the value, which would read as no key at all: checks must
        // never be switched off by a value that merely fails to parse.
        s.documentPublicKeyGiven = security.contains(kDocumentPublicKey);
        s.documentPublicKey = security.textOrList(kDocumentPublicKey).trimmed();
    }
    return s;
}

} // namespace orvik::launcher
