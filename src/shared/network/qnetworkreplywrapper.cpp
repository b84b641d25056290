#include "shared/network/qnetworkreplywrapper.h"

namespace shared {

QNetworkReplyWrapper::QNetworkReplyWrapper(QNetworkReply* pReply)
    : QObject(pReply), m_pReply(pReply)
{}

QNetworkReplyWrapper::~QNetworkReplyWrapper()
{
    // The guard is already null when the reply is the one being destroyed.
    if (m_pReply)
        m_pReply->deleteLater();
}

QNetworkReply::NetworkError QNetworkReplyWrapper::error() const
{
    return m_pReply ? m_pReply->error() : QNetworkReply::UnknownNetworkError;
}

QString QNetworkReplyWrapper::errorString() const
{
    return m_pReply ? m_pReply->errorString() : QString();
}

QByteArray QNetworkReplyWrapper::readAll()
{
    return m_pReply ? m_pReply->readAll() : QByteArray();
}

qint64 QNetworkReplyWrapper::bytesAvailable() const
{
    return m_pReply ? m_pReply->bytesAvailable() : 0;
}

void QNetworkReplyWrapper::abort()
{
    if (m_pReply)
        m_pReply->abort();
}

QUrl QNetworkReplyWrapper::requestUrl() const
{
    return m_pReply ? m_pReply->request().url() : QUrl();
}

} // namespace shared
