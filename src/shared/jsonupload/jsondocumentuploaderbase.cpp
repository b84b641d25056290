#include "shared/jsonupload/jsondocumentuploaderbase.h"

#include "shared/jsonupload/jsondocumenthttppostsender.h"

#include <QJsonObject>
#include <QJsonParseError>
#include <QUrl>

namespace shared {

TJsonDocumentUploaderBase::TJsonDocumentUploaderBase(
    std::shared_ptr<TJsonDocumentHttpPostSender> pSender)
    : m_pSender(std::move(pSender))
{
    if (m_pSender)
        connect(m_pSender.get(), &TJsonDocumentHttpPostSender::finished, this,
                &TJsonDocumentUploaderBase::onFinished);
}

void TJsonDocumentUploaderBase::upload(const QUrl& Url, const QJsonDocument& Document)
{
    m_pSender->send(Url, Document);
}

void TJsonDocumentUploaderBase::onFinished(QNetworkReply::NetworkError NetworkErrorCode,
                                           QString NetworkErrorString, QByteArray ReplyFromServer)
{
    m_LastErrorMessage.clear();
    m_LastErrorCode = 0;
    QJsonDocument reply;
    bool successful = false;

    if (NetworkErrorCode != QNetworkReply::NoError) {
        // An HTTP error status lands here too, whatever its body says.
        m_LastErrorMessage = NetworkErrorString;
    } else {
        QJsonParseError parseError;
        const QJsonDocument parsed = QJsonDocument::fromJson(ReplyFromServer, &parseError);
        if (parseError.error != QJsonParseError::NoError) {
            m_LastErrorMessage = parseError.errorString();
            m_LastErrorCode = kUnreadableReplyErrorCode;
        } else {
            reply = parsed;
            const QJsonObject object = parsed.object();
            // A code sent as a string reads as 0: only a number can reject.
            const int errorCode = object.value(QStringLiteral("errorCode")).toInt(0);
            if (errorCode == 0) {
                successful = true;
            } else {
                m_LastErrorMessage = object.value(QStringLiteral("errorMessage")).toString();
                m_LastErrorCode = errorCode;
            }
        }
    }
    emit finished(successful, reply);
}

} // namespace shared
