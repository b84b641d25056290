#include "publisher/signing/documentsigner.h"

#include "publisher/publishererror.h"
#include "publisher/store/atomicfile.h"
#include "shared/signature/documentsignature.h"

#include <QFile>
#include <QFileInfo>

#include <exception>

namespace orvik::publisher {

namespace sig = ::shared::signature;

TDocumentSigner TDocumentSigner::fromKeyFile(const QString& privateKeyFile)
{
    TDocumentSigner signer;
    if (privateKeyFile.isEmpty())
        return signer;
    QFile file(privateKeyFile);
    if (!file.open(QIODevice::ReadOnly))
        throw TPublisherError(
            QStringLiteral("cannot read key '%1': %2").arg(privateKeyFile, file.errorString()));
    signer.m_PrivateKeyPem = file.readAll();
    try {
        sig::signDocument(signer.m_PrivateKeyPem, QByteArray());
    } catch (const std::exception& error) {
        throw TPublisherError(
            QStringLiteral("key '%1': %2").arg(privateKeyFile, QString::fromUtf8(error.what())));
    }
    return signer;
}

bool TDocumentSigner::signFile(const QString& documentPath, const QByteArray& documentBytes) const
{
    if (!isSigning())
        return false;
    QByteArray signature;
    try {
        signature = sig::signDocument(m_PrivateKeyPem, documentBytes);
    } catch (const std::exception& error) {
        throw TPublisherError(QString::fromUtf8(error.what()));
    }
    // Ed25519 signatures are deterministic: an unchanged document keeps its file untouched.
    const QString path = sig::signaturePath(documentPath);
    if (fileHoldsBytes(path, signature))
        return false;
    writeFileAtomically(path, signature);
    return true;
}

QByteArray generateKeyFiles(const QString& privateKeyFile)
{
    const QString publicKeyFile = privateKeyFile + QStringLiteral(".pub");
    for (const QString& path : {privateKeyFile, publicKeyFile})
        if (QFileInfo::exists(path))
            throw TPublisherError(QStringLiteral("'%1' exists; keys are never replaced").arg(path));
    sig::TKeyPair pair;
    try {
        pair = sig::generateKeyPair();
    } catch (const std::exception& error) {
        throw TPublisherError(QString::fromUtf8(error.what()));
    }
    const QByteArray publicKey = sig::formatPublicKey(pair.PublicKey);
    writePrivateFileAtomically(privateKeyFile, pair.PrivateKeyPem);
    writeFileAtomically(publicKeyFile, publicKey + '\n');
    return publicKey;
}

QByteArray readPublicKey(const QString& fileOrText)
{
    QByteArray text = fileOrText.toLatin1();
    if (QFileInfo(fileOrText).isFile()) {
        QFile file(fileOrText);
        if (!file.open(QIODevice::ReadOnly))
            throw TPublisherError(
                QStringLiteral("cannot read '%1': %2").arg(fileOrText, file.errorString()));
        text = file.readAll();
    }
    const QByteArray key = sig::parsePublicKey(text);
    if (key.isEmpty())
        throw TPublisherError(
            QStringLiteral("'%1' is no public key (base64 of 32 bytes)").arg(fileOrText));
    return key;
}

} // namespace orvik::publisher
