#include "shared/jsonupload/replybodylimit.h"

#include <QNetworkReply>
#include <QVariant>

namespace shared {

namespace {

const char* const kLimitErrorProperty = "kestrunBodyLimitError";

void abortTooLong(QNetworkReply* pReply, qint64 MaxBytes)
{
    if (!pReply->isRunning())
        return;
    pReply->setProperty(kLimitErrorProperty,
                        QStringLiteral("The answer is longer than %1 bytes").arg(MaxBytes));
    pReply->abort();
}

} // namespace

void limitReplyBody(QNetworkReply* pReply, qint64 MaxBytes)
{
    QObject::connect(pReply, &QNetworkReply::metaDataChanged, pReply, [pReply, MaxBytes] {
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
