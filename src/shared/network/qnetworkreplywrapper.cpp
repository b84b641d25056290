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

qint64 QNetworkReplyWrapper::read(char* Data, qint64 MaxSize)
{
    return m_pReply ? m_pReply->read(Data, MaxSize) : -1;
}

qint64 QNetworkReplyWrapper::declaredBodySize() const
{
    if (!m_pReply)
        return -1;
    const QByteArray encoding = contentEncoding().trimmed().toLower();
    if (!encoding.isEmpty() && encoding != "identity")
        return -1;
    bool ok = false;
    const qint64 size = m_pReply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&ok);
    return ok && size >= 0 ? size : -1;
}

QByteArray QNetworkReplyWrapper::contentEncoding() const
{
    return m_pReply ? m_pReply->rawHeader("Content-Encoding") : QByteArray();
}

int QNetworkReplyWrapper::httpStatus() const
{
    return m_pReply ? m_pReply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() : 0;
}

qint64 QNetworkReplyWrapper::bytesAvailable() const
{
    return m_pReply ? m_pReply->bytesAvailable() : 0;
}

void QNetworkReplyWrapper::setReadBufferSize(qint64 Size)
{
    if (m_pReply)
        m_pReply->setReadBufferSize(Size);
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
