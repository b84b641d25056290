#include "shared/platform/cryptolibrary.h"

#include <openssl/crypto.h>

namespace shared::platform {

void keepCryptoLibraryUntilExit()
{
    // Only the first initialisation decides; later ones (also Qt's, for TLS) change nothing.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr);
}

} // namespace shared::platform
