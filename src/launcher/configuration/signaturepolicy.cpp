#include "launcher/configuration/signaturepolicy.h"

#include "launcher/logging/logging.h"
#include "shared/signature/documentsignature.h"

#include <QDebug>

namespace orvik::launcher {

TSignaturePolicy::TSignaturePolicy(const QString& PublicKeyText)
    : m_bRequired(!PublicKeyText.isEmpty())
    , m_PublicKey(::shared::signature::parsePublicKey(PublicKeyText.toLatin1()))
{
    if (m_bRequired && m_PublicKey.isEmpty())
        qCritical() << "Document public key in the settings is not the base64 of an Ed25519 key:"
                    << "every document is refused" << threadSuffix;
}

QString TSignaturePolicy::refusalReason(const QByteArray& Document,
                                        const QByteArray& SignatureFile) const
{
    if (!m_bRequired)
        return {};
    const auto check = ::shared::signature::checkDocument(m_PublicKey, Document, SignatureFile);
    if (check == ::shared::signature::ECheck::Valid)
        return {};
    return ::shared::signature::describe(check);
}

} // namespace orvik::launcher
