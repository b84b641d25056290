#pragma once

#include <QJsonObject>
#include <QString>
#include <QUrl>

class QObject;
class QSettings;

namespace orvik::launcher {

namespace funnelkeys {
inline const QString kStartedFirst = QStringLiteral("FunnelStartedFirst");
inline const QString kFinishedDownloadingFirst = QStringLiteral("FunnelFinishedDownloadingFirst");
inline const QString kFinishedVerifyingFirst = QStringLiteral("FunnelFinished_VerifyingFirst");
} // namespace funnelkeys

namespace funnelsteps {
inline const QString kStarted = QStringLiteral("launcher_started");
inline const QString kDownloaded = QStringLiteral("launcher_downloaded");
inline const QString kVerified = QStringLiteral("launcher_verified");
} // namespace funnelsteps

// Tells the funnel service that this account reached a milestone. Fire and forget: the answer is
// only logged, and nothing the service does reaches the launcher's flow.
class TFunnelEventSender
{
public:
    // Every event gets a network access manager of its own below pManagerParent. The identifier
    // is kept in the default QSettings under IdentifierKey.
    TFunnelEventSender(QObject* pManagerParent, const QString& IdentifierKey, bool bEnabled);

    void send(const QUrl& FunnelUrl, const QString& AccountGroup, const QString& Step,
              const QString& FirstFlagKey) const;

    // The body of an event: reads or makes the identifier (sharing a new one), and clears the
    // step's first-flag, whether or not the post later succeeds.
    static QJsonObject prepare(QSettings& Settings, const QString& IdentifierKey,
                               const QString& AccountGroup, const QString& Step,
                               const QString& FirstFlagKey);

private:
    QObject* m_pManagerParent;
    QString m_IdentifierKey;
    bool m_bEnabled;
};

// Funnel events are posted while the launcher goes on, and the last milestone of an install is
// often reached just before it ends. Called when the application quits: lets events already
// posted arrive, for at most TimeoutMs, so they are not cut off on their way.
void waitForFunnelEventsInFlight(int TimeoutMs);

} // namespace orvik::launcher
