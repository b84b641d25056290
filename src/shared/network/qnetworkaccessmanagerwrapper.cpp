#include "shared/network/qnetworkaccessmanagerwrapper.h"

#include "shared/network/qnetworkreplywrapper.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>

namespace shared {

QNetworkAccessManagerWrapper::QNetworkAccessManagerWrapper(
    std::shared_ptr<QNetworkAccessManager> pManager)
    : m_pManager(std::move(pManager))
{
    if (m_pManager)
        connect(m_pManager.get(), &QNetworkAccessManager::authenticationRequired, this,
                &QNetworkAccessManagerWrapper::authenticationRequired);
}

QNetworkReplyWrapper* QNetworkAccessManagerWrapper::get(const QNetworkRequest& Request)
{
    QNetworkReply* pReply = m_pManager->get(Request);
    auto* pWrapper = new QNetworkReplyWrapper(pReply);
    if (pReply) {
        connect(pReply, &QNetworkReply::errorOccurred, pWrapper,
                QOverload<QNetworkReply::NetworkError>::of(&QNetworkReplyWrapper::error));
        connect(pReply, &QNetworkReply::finished, pWrapper, &QNetworkReplyWrapper::finished);
        connect(pReply, &QNetworkReply::readyRead, pWrapper, &QNetworkReplyWrapper::readyRead);
        connect(
            pReply, &QNetworkReply::downloadProgress, pWrapper,
            [pWrapper](qint64 BytesReceived, qint64) { emit pWrapper->progress(BytesReceived); });
    }
    return pWrapper;
}

void QNetworkAccessManagerWrapper::setCache(QAbstractNetworkCache* pCache)
{
    m_pManager->setCache(pCache);
}

void QNetworkAccessManagerWrapper::setRedirectPolicy(QNetworkRequest::RedirectPolicy Policy)
{
    m_pManager->setRedirectPolicy(Policy);
}

std::shared_ptr<QNetworkAccessManagerWrapper> QNetworkAccessManagerWrapper::createSibling()
{
    auto manager = std::make_shared<QNetworkAccessManager>();
    if (m_pManager) {
        manager->setProxy(m_pManager->proxy());
        manager->setRedirectPolicy(m_pManager->redirectPolicy());
        manager->setStrictTransportSecurityEnabled(m_pManager->isStrictTransportSecurityEnabled());
    }
    auto sibling = std::make_shared<QNetworkAccessManagerWrapper>(std::move(manager));
    connect(sibling.get(), &QNetworkAccessManagerWrapper::authenticationRequired, this,
            &QNetworkAccessManagerWrapper::authenticationRequired);
    return sibling;
}

} // namespace shared
