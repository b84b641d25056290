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
    // A wrapper over a new manager set up like this one (its proxy and redirect policy; the
    // proxy factory is process-wide anyway), whose authentication challenges this wrapper
    // reports too. A manager opens only a few connections to one host; siblings open more.
    virtual std::shared_ptr<QNetworkAccessManagerWrapper> createSibling();

signals:
    void authenticationRequired(QNetworkReply* pReply, QAuthenticator* pAuthenticator);

private:
    std::shared_ptr<QNetworkAccessManager> m_pManager;
};

} // namespace shared
