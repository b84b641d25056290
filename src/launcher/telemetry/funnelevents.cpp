#include "launcher/telemetry/funnelevents.h"

#include "launcher/logging/logging.h"
#include "launcher/telemetry/sharedidentifierfile.h"
#include "shared/jsonupload/replybodylimit.h"
#include "shared/network/contentencoding.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>
#include <QUuid>

namespace orvik::launcher {

namespace {

// All on the GUI thread, like the events themselves.
int g_EventsInFlight = 0;
QEventLoop* g_pWaitingLoop = nullptr;

void onEventAnswered()
{
    if (--g_EventsInFlight == 0 && g_pWaitingLoop)
        g_pWaitingLoop->quit();
}

} // namespace

void waitForFunnelEventsInFlight(int TimeoutMs)
{
    if (g_EventsInFlight == 0 || g_pWaitingLoop)
        return;
    qInfo() << "Waiting for funnel events in flight:" << g_EventsInFlight << threadSuffix;
    QEventLoop loop;
    QTimer::singleShot(TimeoutMs, &loop, &QEventLoop::quit);
    g_pWaitingLoop = &loop;
    loop.exec();
    g_pWaitingLoop = nullptr;
}

TFunnelEventSender::TFunnelEventSender(QObject* pManagerParent, const QString& IdentifierKey,
                                       bool bEnabled)
    : m_pManagerParent(pManagerParent), m_IdentifierKey(IdentifierKey), m_bEnabled(bEnabled)
{}

QJsonObject TFunnelEventSender::prepare(QSettings& Settings, const QString& IdentifierKey,
                                        const QString& AccountGroup, const QString& Step,
                                        const QString& FirstFlagKey)
{
    QString identifier = Settings.value(IdentifierKey).toString();
    // An empty stored value would tie every such account to one identifier forever.
    if (identifier.isEmpty()) {
        identifier = QUuid::createUuid().toString(QUuid::WithoutBraces);
        Settings.setValue(IdentifierKey, identifier);
        writeSharedIdentifierFile(identifier);
    }

    const bool first = Settings.value(FirstFlagKey, true).toBool();
    if (first)
        Settings.setValue(FirstFlagKey, false);

    return QJsonObject{{QStringLiteral("accountgroupkey"), AccountGroup},
                       {QStringLiteral("first"), first},
                       {QStringLiteral("id"), identifier},
                       {QStringLiteral("step"), Step}};
}

void TFunnelEventSender::send(const QUrl& FunnelUrl, const QString& AccountGroup,
                              const QString& Step, const QString& FirstFlagKey) const
{
    qInfo() << "sendFunnelEvent: " << Step << threadSuffix;
    // Switched off: not even the identifier is made, so nothing ties this account to a device.
    if (!m_bEnabled)
        return;

    QJsonObject body;
    {
        QSettings settings;
        body = prepare(settings, m_IdentifierKey, AccountGroup, Step, FirstFlagKey);
    }

    QNetworkRequest request(FunnelUrl);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    ::shared::setAcceptedEncoding(request, ::shared::EAcceptedEncoding::Identity);
    // One manager per event, so that events in flight never share state; it goes with its reply
    // instead of piling up until the launcher ends.
    auto* manager = new QNetworkAccessManager(m_pManagerParent);
    qInfo() << "Sending funnel event for step " << Step << threadSuffix;
    QNetworkReply* reply = manager->post(request, QJsonDocument(body).toJson());
    ::shared::limitReplyBody(reply, ::shared::kMaxUploadReplyBytes);
    ++g_EventsInFlight;
    QObject::connect(
        reply, &QNetworkReply::finished, reply,
        [reply, manager, Step] {
            const QString tooLong = ::shared::replyBodyLimitError(reply);
            if (!tooLong.isEmpty() || reply->error() != QNetworkReply::NoError) {
                qWarning() << "Error funnel sending (Step: " << Step
                           << "):" << (tooLong.isEmpty() ? reply->errorString() : tooLong)
                           << threadSuffix;
            } else {
                // The service's text up to a zero byte, as Latin-1: it is only shown in the log.
                const QByteArray answer = reply->readAll();
                qInfo() << "Funnel response received (Step: " << Step
                        << "):" << QString::fromLatin1(answer.constData()) << threadSuffix;
            }
            reply->deleteLater();
            manager->deleteLater();
            onEventAnswered();
        },
        Qt::DirectConnection);
}

} // namespace orvik::launcher
