#include "shared/signature/documentsignature.h"

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>
#include <stdexcept>

namespace shared::signature {

namespace {

struct TKeyFree
{
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct TContextFree
{
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};
struct TKeyContextFree
{
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
struct TBioFree
{
    void operator()(BIO* bio) const { BIO_free(bio); }
};
using TKey = std::unique_ptr<EVP_PKEY, TKeyFree>;
using TContext = std::unique_ptr<EVP_MD_CTX, TContextFree>;

[[noreturn]] void fail(const char* step)
{
    throw std::runtime_error(std::string("Ed25519 signing failed: ") + step);
}

TKey readPrivateKey(const QByteArray& pem)
{
    std::unique_ptr<BIO, TBioFree> bio(BIO_new_mem_buf(pem.constData(), int(pem.size())));
    if (!bio)
        fail("no memory for the key");
    TKey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    // Any other kind of key would make signatures the launcher can never check.
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_ED25519)
        throw std::runtime_error("the private key is not an Ed25519 key in PEM form");
    return key;
}

QByteArray decodeBase64Strictly(const QByteArray& text)
{
    const auto decoded = QByteArray::fromBase64Encoding(
        text.trimmed(), QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? *decoded : QByteArray();
}

} // namespace

TKeyPair generateKeyPair()
{
    std::unique_ptr<EVP_PKEY_CTX, TKeyContextFree> context(
        EVP_PKEY_CTX_new_id(EVP_PKEY_ED25519, nullptr));
    EVP_PKEY* generated = nullptr;
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1 ||
        EVP_PKEY_keygen(context.get(), &generated) != 1)
        fail("no key generated");
    const TKey key(generated);

    TKeyPair pair;
    pair.PublicKey.resize(kPublicKeyLength);
    size_t length = size_t(kPublicKeyLength);
    if (EVP_PKEY_get_raw_public_key(
            key.get(), reinterpret_cast<unsigned char*>(pair.PublicKey.data()), &length) != 1 ||
        length != size_t(kPublicKeyLength))
        fail("no public key");

    std::unique_ptr<BIO, TBioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio ||
        PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        fail("private key not written");
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    if (size <= 0 || !data)
        fail("private key not written");
    pair.PrivateKeyPem = QByteArray(data, int(size));
    return pair;
}

QByteArray signDocument(const QByteArray& privateKeyPem, const QByteArray& document)
{
    const TKey key = readPrivateKey(privateKeyPem);
    const TContext context(EVP_MD_CTX_new());
    QByteArray signature(kSignatureLength, '\0');
    size_t length = size_t(kSignatureLength);
    // Ed25519 signs the message itself, in one pass and without a separate digest.
    if (!context || EVP_DigestSignInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1 ||
        EVP_DigestSign(context.get(), reinterpret_cast<unsigned char*>(signature.data()), &length,
                       reinterpret_cast<const unsigned char*>(document.constData()),
                       size_t(document.size())) != 1 ||
        length != size_t(kSignatureLength))
        fail("no signature made");
    return signature.toBase64() + '\n';
}

ECheck checkDocument(const QByteArray& publicKey, const QByteArray& document,
                     const QByteArray& signatureFile)
{
    if (publicKey.size() != kPublicKeyLength)
        return ECheck::KeyUnusable;
    if (signatureFile.trimmed().isEmpty())
        return ECheck::Missing;
    const QByteArray signature = decodeBase64Strictly(signatureFile);
    if (signature.size() != kSignatureLength)
        return ECheck::Malformed;
    const TKey key(EVP_PKEY_new_raw_public_key(
        EVP_PKEY_ED25519, nullptr, reinterpret_cast<const unsigned char*>(publicKey.constData()),
        size_t(publicKey.size())));
    if (!key)
        return ECheck::KeyUnusable;
    const TContext context(EVP_MD_CTX_new());
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return ECheck::KeyUnusable;
    const int verified = EVP_DigestVerify(
        context.get(), reinterpret_cast<const unsigned char*>(signature.constData()),
        size_t(signature.size()), reinterpret_cast<const unsigned char*>(document.constData()),
        size_t(document.size()));
    return verified == 1 ? ECheck::Valid : ECheck::Mismatch;
}

QString describe(ECheck check)
{
    switch (check) {
    case ECheck::Valid:
        return QStringLiteral("valid");
    case ECheck::Missing:
        return QStringLiteral("signature missing");
    case ECheck::Malformed:
        return QStringLiteral("signature malformed");
    case ECheck::Mismatch:
        return QStringLiteral("signature does not match the document and the public key");
    case ECheck::KeyUnusable:
        return QStringLiteral("public key unusable");
    }
    return QStringLiteral("unknown");
}

QByteArray parsePublicKey(const QByteArray& text)
{
    const QByteArray key = decodeBase64Strictly(text);
    return key.size() == kPublicKeyLength ? key : QByteArray();
}

QByteArray formatPublicKey(const QByteArray& publicKey)
{
    return publicKey.toBase64();
}

QUrl signatureUrl(const QUrl& documentUrl)
{
    if (!documentUrl.isValid() || documentUrl.isEmpty())
        return {};
    QUrl url = documentUrl;
    url.setPath(documentUrl.path() + kSuffix);
    return url;
}

} // namespace shared::signature
