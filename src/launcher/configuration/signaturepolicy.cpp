#include "launcher/configuration/signaturepolicy.h"

#include "shared/signature/documentsignature.h"

namespace orvik::launcher {

TSignaturePolicy::TSignaturePolicy(const QString& PublicKeyText, bool Given)
    : m_bRequired(Given || !PublicKeyText.isEmpty())
    , m_PublicKey(::shared::signature::parsePublicKey(PublicKeyText.toLatin1()))
{}

QString TSignaturePolicy::keyProblem() const
{
    if (!m_bRequired || !m_PublicKey.isEmpty())
        return {};
    return QStringLiteral("Document public key in the settings is not the base64 of one Ed25519 "
                          "key: every document is refused");
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
