#include "shared/jsonupload/replybodylimit.h"

#include "shared/network/contentencoding.h"

#include <QNetworkReply>
#include <QVariant>

namespace shared {

namespace {

const char* const kLimitErrorProperty = "kestrunBodyLimitError";

void refuse(QNetworkReply* pReply, const QString& Reason)
{
    if (!pReply->isRunning())
        return;
    pReply->setProperty(kLimitErrorProperty, Reason);
    pReply->abort();
}

void abortTooLong(QNetworkReply* pReply, qint64 MaxBytes)
{
    refuse(pReply, QStringLiteral("The answer is longer than %1 bytes").arg(MaxBytes));
}

} // namespace

void limitReplyBody(QNetworkReply* pReply, qint64 MaxBytes)
{
    QObject::connect(pReply, &QNetworkReply::metaDataChanged, pReply, [pReply, MaxBytes] {
        // An error page is dropped with its error, which is what is reported, whatever its
        // encoding.
        if (pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() < 300) {
            const TBodyEncoding encoding = judgeContentEncoding(
                pReply->rawHeader("Content-Encoding"), EAcceptedEncoding::Identity);
            if (!encoding.Refusal.isEmpty()) {
                refuse(pReply, encoding.Refusal);
                return;
            }
        }
        bool known = false;
        const qint64 declared =
            pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
        if (known && declared > MaxBytes)
            abortTooLong(pReply, MaxBytes);
    });
    QObject::connect(pReply, &QNetworkReply::readyRead, pReply, [pReply, MaxBytes] {
        if (pReply->bytesAvailable() > MaxBytes)
            abortTooLong(pReply, MaxBytes);
    });
}

QString replyBodyLimitError(const QNetworkReply* pReply)
{
    return pReply->property(kLimitErrorProperty).toString();
}

} // namespace shared
