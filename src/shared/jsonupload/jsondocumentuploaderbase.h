#pragma once

#include <QByteArray>
#include <QJsonDocument>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <memory>

class QUrl;

namespace shared {

class TJsonDocumentHttpPostSender;

// Uploads a JSON document and judges the service's answer: a JSON object whose "errorCode" is
// missing or 0 is a success; any other code is a rejection explained by "errorMessage".
// Concrete uploaders derive from this class.
class TJsonDocumentUploaderBase : public QObject
{
    Q_OBJECT

public:
    // Code recorded when the answer is not JSON.
    static constexpr int kUnreadableReplyErrorCode = -100;

    explicit TJsonDocumentUploaderBase(std::shared_ptr<TJsonDocumentHttpPostSender> pSender);

    virtual void upload(const QUrl& Url, const QJsonDocument& Document);

    // Empty after a success.
    QString getLastErrorMessage() const { return m_LastErrorMessage; }
    // The service's code of the last rejection, kUnreadableReplyErrorCode for an unreadable
    // answer, 0 otherwise (network failures included).
    int getLastErrorCode() const { return m_LastErrorCode; }

signals:
    void finished(bool UploadSuccessful, QJsonDocument ReplyFromServer);

public slots:
    void onFinished(QNetworkReply::NetworkError NetworkErrorCode, QString NetworkErrorString,
                    QByteArray ReplyFromServer);

private:
    std::shared_ptr<TJsonDocumentHttpPostSender> m_pSender;
    QString m_LastErrorMessage;
    int m_LastErrorCode = 0;
};

} // namespace shared
