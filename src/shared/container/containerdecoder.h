#pragma once

#include <QByteArray>

#include <cstdint>

namespace shared {

// Decodes one payload by codec id into output[0..outputLength). On entry outputLength is the
// capacity, on success the length of the result. The output need not be initialised: where the
// result is longer than what the stream produced, the rest is set to zero bytes. Never throws.
bool unpackContainer(unsigned codecId, const char* payload, std::uint64_t packedSize, char* output,
                     std::uint64_t& outputLength);

// Bytes that are no container come back unchanged; a container that does not decode throws
// shared::TDecompressionError.
QByteArray decodeContainerStrict(const QByteArray& bytes);

// As above, but a container must also declare expectedUnpackedSize, checked before anything is
// allocated: the header comes from the network, the expected size from a signed document.
QByteArray decodeContainerStrict(const QByteArray& bytes, std::uint64_t expectedUnpackedSize);

// Bytes that are no container, or do not decode, come back unchanged. Never throws for bad data.
QByteArray decodeContainerLenient(const QByteArray& bytes);

} // namespace shared
