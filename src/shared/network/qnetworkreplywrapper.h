#pragma once

#include <QByteArray>
#include <QNetworkReply>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>

namespace shared {

// A thin, overridable face of one QNetworkReply, so the download pool can be driven by fakes.
// The wrapper is a child of its reply; destroying the wrapper also releases the reply, so a
// long-lived network access manager does not collect every finished reply until it dies.
class QNetworkReplyWrapper : public QObject
{
    Q_OBJECT

public:
    explicit QNetworkReplyWrapper(QNetworkReply* pReply);
    ~QNetworkReplyWrapper() override;

    virtual QNetworkReply::NetworkError error() const;
    virtual QString errorString() const;
    virtual QByteArray readAll();
    // Reads up to MaxSize received body bytes into Data; the count read, or -1.
    virtual qint64 read(char* Data, qint64 MaxSize);
    // The length of the body as the server declared it (Content-Length), or -1 when it
    // declared none or the body is encoded: its declared length is then not the one it has once
    // decoded.
    virtual qint64 declaredBodySize() const;
    // The Content-Encoding the server declared; empty when it declared none.
    virtual QByteArray contentEncoding() const;
    // The HTTP status of the answer; 0 before the headers or without HTTP.
    virtual int httpStatus() const;
    // Body bytes received and not read yet.
    virtual qint64 bytesAvailable() const;
    // Bounds the body bytes Qt holds unread (0: unbounded); past it Qt stops reading from the
    // connection and TCP makes the server wait.
    virtual void setReadBufferSize(qint64 Size);
    // Ends the transfer at once; Qt then reports OperationCanceledError and finished.
    virtual void abort();
    // The URL the request was made for; after redirects still the original one.
    virtual QUrl requestUrl() const;

signals:
    void error(QNetworkReply::NetworkError code);
    void finished();
    void progress(qint64 BytesReceivedFromRequest);
    // Body bytes arrived. Unlike progress, which Qt sends at most ten times a second, this
    // follows every arrival.
    void readyRead();

private:
    // Guarded: when the reply itself is destroyed first it takes this wrapper with it.
    QPointer<QNetworkReply> m_pReply;
};

} // namespace shared
