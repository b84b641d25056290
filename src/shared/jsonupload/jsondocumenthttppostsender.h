#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QString>

#include <memory>

class QJsonDocument;
class QNetworkAccessManager;
class QUrl;

namespace shared {

// Posts JSON documents and reports each raw outcome. The manager must belong to this sender
// alone: every reply it finishes is taken for an answer to one of the sender's posts.
class TJsonDocumentHttpPostSender : public QObject
{
    Q_OBJECT

public:
    explicit TJsonDocumentHttpPostSender(
        std::shared_ptr<QNetworkAccessManager> pNetworkAccessManager);

    virtual void send(const QUrl& Url, const QJsonDocument& Document);

signals:
    void finished(QNetworkReply::NetworkError NetworkErrorCode, QString NetworkErrorString,
                  QByteArray ReplyFromServer);

public slots:
    void onFinished(QNetworkReply* Reply);

private:
    std::shared_ptr<QNetworkAccessManager> m_pNetworkAccessManager;
};

} // namespace shared
