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

// Bytes that are no container, or do not decode, come back unchanged. Never throws for bad data.
QByteArray decodeContainerLenient(const QByteArray& bytes);

} // namespace shared
