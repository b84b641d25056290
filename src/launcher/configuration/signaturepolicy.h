#pragma once

#include <QByteArray>
#include <QString>

namespace orvik::launcher {

// Whether documents must be signed, and by which key: the launcher's settings decide. A key
// that cannot be read refuses every document rather than letting unsigned ones through.
class TSignaturePolicy
{
public:
    explicit TSignaturePolicy(const QString& PublicKeyText);

    bool isRequired() const { return m_bRequired; }
    // Empty when the document may be used; otherwise why not, for the log.
    QString refusalReason(const QByteArray& Document, const QByteArray& SignatureFile) const;

private:
    bool m_bRequired = false;
    QByteArray m_PublicKey;
};

} // namespace orvik::launcher
