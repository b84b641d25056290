#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

namespace shared {

// Detached Ed25519 signatures of documents. A signature covers the exact bytes of a file as it
// was written; it travels in "<document>.sig" beside it as the base64 of the 64 raw signature
// bytes. Public keys are handled as the base64 of their 32 raw bytes, short enough for a line of
// an INI file; private keys as PKCS#8 PEM, the form OpenSSL's own tools read.
namespace signature {

constexpr int kPublicKeyLength = 32;
constexpr int kSignatureLength = 64;
inline const QString kSuffix = QStringLiteral(".sig");

struct TKeyPair
{
    QByteArray PrivateKeyPem;
    QByteArray PublicKey; // raw
};

// A fresh key pair. Throws std::runtime_error when the library cannot make one.
TKeyPair generateKeyPair();

// The signature file's content for these document bytes. Throws std::runtime_error when the
// private key is not an Ed25519 key in PEM.
QByteArray signDocument(const QByteArray& privateKeyPem, const QByteArray& document);

enum class ECheck {
    Valid,
    Missing,     // no signature file, or an empty one
    Malformed,   // not base64 of 64 bytes
    Mismatch,    // made by another key, or the document changed after signing
    KeyUnusable, // the configured public key is not base64 of 32 bytes
};

// Checks a signature file's content against the document bytes and a raw public key.
ECheck checkDocument(const QByteArray& publicKey, const QByteArray& document,
                     const QByteArray& signatureFile);
// Why a check failed, for the log; "valid" for a good one.
QString describe(ECheck check);

// The raw key from its base64 text (surrounding blanks allowed); empty when it is not one.
QByteArray parsePublicKey(const QByteArray& text);
// The base64 text of a raw key, as keygen prints it and the settings hold it.
QByteArray formatPublicKey(const QByteArray& publicKey);

// Where the signature of a document lies: the same path with ".sig" appended, the query kept.
QUrl signatureUrl(const QUrl& documentUrl);
inline QString signaturePath(const QString& documentPath)
{
    return documentPath + kSuffix;
}

} // namespace signature
} // namespace shared
