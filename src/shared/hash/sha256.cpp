#include "shared/hash/sha256.h"

#include "shared/platform/cryptolibrary.h"

#include <openssl/evp.h>

#include <stdexcept>

namespace shared {

namespace {

// Fetched once: an implicit fetch on every initialisation costs more than hashing a small chunk.
const EVP_MD* sha256Algorithm()
{
    static const EVP_MD* const algorithm = [] {
        platform::keepCryptoLibraryUntilExit();
        const EVP_MD* fetched = EVP_MD_fetch(nullptr, "SHA256", nullptr);
        return fetched ? fetched : EVP_sha256();
    }();
    return algorithm;
}

[[noreturn]] void fail(const char* step)
{
    throw std::runtime_error(std::string("SHA-256 failed: ") + step);
}

} // namespace

struct TSha256::TState
{
    TState() : context(EVP_MD_CTX_new())
    {
        if (!context)
            fail("no context");
        restart();
    }
    ~TState() { EVP_MD_CTX_free(context); }
    void restart()
    {
        if (EVP_DigestInit_ex(context, sha256Algorithm(), nullptr) != 1)
            fail("init");
    }

    EVP_MD_CTX* context;
};

TSha256::TSha256() : m_pState(std::make_unique<TState>()) {}

TSha256::~TSha256() = default;
TSha256::TSha256(TSha256&&) noexcept = default;
TSha256& TSha256::operator=(TSha256&&) noexcept = default;

void TSha256::addData(const char* data, std::size_t length)
{
    if (length > 0 && EVP_DigestUpdate(m_pState->context, data, length) != 1)
        fail("update");
}

QByteArray TSha256::result()
{
    QByteArray digest(DigestLength, Qt::Uninitialized);
    unsigned int written = 0;
    if (EVP_DigestFinal_ex(m_pState->context, reinterpret_cast<unsigned char*>(digest.data()),
                           &written) != 1 ||
        written != DigestLength)
        fail("final");
    m_pState->restart();
    return digest;
}

QByteArray sha256(const char* data, std::size_t length)
{
    TSha256 hash;
    hash.addData(data, length);
    return hash.result();
}

} // namespace shared
