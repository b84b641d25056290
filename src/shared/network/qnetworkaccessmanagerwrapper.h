#pragma once

#include <QAuthenticator>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QObject>

#include <memory>

class QAbstractNetworkCache;
class QNetworkAccessManager;

namespace shared {

class QNetworkReplyWrapper;

// A thin, overridable face of a QNetworkAccessManager, so the download pool can be driven by
// fakes. The manager is shared with whoever built the wrapper.
class QNetworkAccessManagerWrapper : public QObject
{
    Q_OBJECT

public:
    explicit QNetworkAccessManagerWrapper(std::shared_ptr<QNetworkAccessManager> pManager);

    // A new wrapper for the new reply; the wrapper is a child of that reply.
    virtual QNetworkReplyWrapper* get(const QNetworkRequest& Request);
    virtual void setCache(QAbstractNetworkCache* pCache);
    virtual void setRedirectPolicy(QNetworkRequest::RedirectPolicy Policy);

signals:
    void authenticationRequired(QNetworkReply* pReply, QAuthenticator* pAuthenticator);

private:
    std::shared_ptr<QNetworkAccessManager> m_pManager;
};

} // namespace shared
