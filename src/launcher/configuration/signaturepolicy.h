#pragma once

#include <QByteArray>
#include <QString>

namespace orvik::launcher {

// Whether documents must be signed, and by which key: the launcher's settings decide. A key
// that cannot be read refuses every document rather than letting unsigned ones through.
class TSignaturePolicy
{
public:
    // Given: the settings name a key, whatever its text; then documents must be signed by it.
    TSignaturePolicy(const QString& PublicKeyText, bool Given);

    bool isRequired() const { return m_bRequired; }
    // Why every document will be refused, for the log; empty when the key can be used.
    QString keyProblem() const;
    // Empty when the document may be used; otherwise why not, for the log.
    QString refusalReason(const QByteArray& Document, const QByteArray& SignatureFile) const;

private:
    bool m_bRequired = false;
    QByteArray m_PublicKey;
};

} // namespace orvik::launcher
