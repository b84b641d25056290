#pragma once

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// Signs the documents the tool writes with the studio's private key, each with a detached
// signature "<document>.sig" beside it. Without a key it does nothing, so trees published
// without one stay exactly as they were.
class TDocumentSigner
{
public:
    TDocumentSigner() = default;
    // Reads and checks the key at once, so a wrong key file stops a publication before it starts.
    // An empty path gives a signer that does not sign. Throws TPublisherError.
    static TDocumentSigner fromKeyFile(const QString& privateKeyFile);

    bool isSigning() const { return !m_PrivateKeyPem.isEmpty(); }
    // Writes the signature of these document bytes beside the document when it is not already
    // there; true when it wrote. Throws TPublisherError.
    bool signFile(const QString& documentPath, const QByteArray& documentBytes) const;

private:
    QByteArray m_PrivateKeyPem;
};

// A new key pair: the private key readable by its owner only, the public key (base64, one line)
// in "<privateKeyFile>.pub". Refuses to replace an existing file: a lost key cannot be made
// again, and every launcher trusting it would refuse the studio's next publication. Returns the
// public key's text. Throws TPublisherError.
QByteArray generateKeyFiles(const QString& privateKeyFile);

// The raw public key from a ".pub" file or from the base64 text itself. Throws TPublisherError.
QByteArray readPublicKey(const QString& fileOrText);

} // namespace orvik::publisher
