#include "launcher/settings/launchersettings.h"

#include <QSettings>

#include <algorithm>

namespace orvik::launcher {

namespace {

// Reads one group's keys, so every group is found and read in one place. QSettings tells group
// names apart by case, and a "[security]" written by hand would be read as no group at all: a
// group that differs from the known one only in case is taken as it, and the notes say so. The
// group spelled as the launcher spells it comes first, key by key.
class TGroupReader
{
public:
    TGroupReader(QSettings& settings, const QString& group, QStringList& Notes)
        : m_Settings(settings), m_Groups{group}
    {
        for (const QString& present : m_Settings.childGroups()) {
            if (present == group || present.compare(group, Qt::CaseInsensitive) != 0)
                continue;
            m_Groups.append(present);
            Notes.append(QStringLiteral("Settings group [%1] taken as [%2]").arg(present, group));
        }
    }

    QUrl url(const QString& key) const { return value(key, QUrl()).toUrl(); }
    bool flag(const QString& key, bool fallback) const { return value(key, fallback).toBool(); }
    QString text(const QString& key) const { return value(key, QString()).toString(); }
    QString textOrList(const QString& key) const
    {
        return value(key, QString()).toStringList().join(QLatin1Char(','));
    }
    bool contains(const QString& key) const { return !found(key).isEmpty(); }
    qint32 number(const QString& key, qint32 fallback) const
    {
        return value(key, fallback).toInt();
    }
    qint64 wideNumber(const QString& key, qint64 fallback) const
    {
        return value(key, fallback).toLongLong();
    }

private:
    // The full key in the first group that holds it; empty when none does.
    QString found(const QString& key) const
    {
        for (const QString& group : m_Groups)
            if (const QString path = group + QLatin1Char('/') + key; m_Settings.contains(path))
                return path;
        return {};
    }
    QVariant value(const QString& key, const QVariant& fallback) const
    {
        const QString path = found(key);
        return path.isEmpty() ? fallback : m_Settings.value(path);
    }

    QSettings& m_Settings;
    QStringList m_Groups;
};

} // namespace

TLauncherSettings TLauncherSettings::loadFromIniFile(const QString& path)
{
    using namespace settingskeys;
    QSettings ini(path, QSettings::IniFormat);
    TLauncherSettings s;
    {
        TGroupReader urls(ini, kUrls, s.notes);
        s.launcherConfiguration = urls.url(kLauncherConfiguration);
        s.cdnDiagnosticsTrace = urls.url(kCdnDiagnosticsTrace);
        s.appendNocacheToPackageUrls = urls.flag(kAppendNocacheToPackageUrls, false);
    }
    {
        TGroupReader directories(ini, kDirectories, s.notes);
        s.packages = directories.text(kPackages);
        s.settingsTarget = directories.text(kSettingsTarget);
    }
    {
        TGroupReader files(ini, kFiles, s.notes);
        s.packageFile = files.text(kPackageFile);
        s.partialPackageFile = files.text(kPartialPackageFile);
        s.assetFile = files.text(kAssetFile);
        s.accountGroupFile = files.text(kAccountGroupFile);
    }
    {
        // Stored as 32-bit values and widened with their sign.
        TGroupReader timing(ini, kTiming, s.notes);
        s.waitNotificationTimeout = timing.number(kWaitNotificationTimeout, 0);
        s.downloadErrorTimeout = timing.number(kDownloadErrorTimeout, 0);
        s.clientStartTimeout = timing.number(kClientStartTimeout, 0);
        s.stallTimeout = timing.number(kStallTimeout, 0);
    }
    {
        TGroupReader options(ini, kOptions, s.notes);
        s.fastScan = options.flag(kFastScan, true);
        s.skipVerification = options.flag(kSkipVerification, true);
        s.maxCachedChunks = options.number(kMaxCachedChunks, 100);
        s.maxConcurrentDownloads = options.number(kMaxConcurrentDownloads, 10);
        s.maxDownloadRate = std::max<qint64>(options.wideNumber(kMaxDownloadRate, 0), 0);
        s.telemetry = options.flag(kTelemetry, true);
    }
    {
        TGroupReader debug(ini, kDebug, s.notes);
        s.chunkVerification = debug.flag(kChunkVerification, false);
    }
    {
        TGroupReader security(ini, kSecurity, s.notes);
        // A comma makes a list of the value, which would read as no key at all: checks must
        // never be switched off by a value that merely fails to parse.
        s.documentPublicKeyGiven = security.contains(kDocumentPublicKey);
        s.documentPublicKey = security.textOrList(kDocumentPublicKey).trimmed();
        s.channel = security.textOrList(kChannel).trimmed();
    }
    return s;
}

} // namespace orvik::launcher
