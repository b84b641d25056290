#include "shared/jsonupload/jsondocumenthttppostsender.h"

#include "shared/jsonupload/replybodylimit.h"
#include "shared/network/contentencoding.h"

#include <QJsonDocument>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QUrl>

namespace shared {

TJsonDocumentHttpPostSender::TJsonDocumentHttpPostSender(
    std::shared_ptr<QNetworkAccessManager> pNetworkAccessManager)
    : m_pNetworkAccessManager(std::move(pNetworkAccessManager))
{
    connect(m_pNetworkAccessManager.get(), &QNetworkAccessManager::finished, this,
            &TJsonDocumentHttpPostSender::onFinished);
}

void TJsonDocumentHttpPostSender::send(const QUrl& Url, const QJsonDocument& Document)
{
    QNetworkRequest request(Url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setHeader(QNetworkRequest::ContentDispositionHeader,
                      QStringLiteral("form-data; name=\"metadata\""));
    setAcceptedEncoding(request, EAcceptedEncoding::Identity);
    limitReplyBody(m_pNetworkAccessManager->post(request, Document.toJson(QJsonDocument::Compact)),
                   kMaxUploadReplyBytes);
}

void TJsonDocumentHttpPostSender::onFinished(QNetworkReply* Reply)
{
    const QString tooLong = replyBodyLimitError(Reply);
    if (tooLong.isEmpty()) {
        const QByteArray body = Reply->readAll();
        emit finished(Reply->error(), Reply->errorString(), body);
    } else {
        emit finished(QNetworkReply::UnknownContentError, tooLong, QByteArray());
    }
    Reply->deleteLater();
}

} // namespace shared
