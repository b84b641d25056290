#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace shared {

// Takes each decoded piece in order; what it throws ends the decoding and passes through.
using TContainerSink = std::function<void(const char* Data, std::size_t Length)>;

// A container whose codec can be decoded piece by piece, so that a large result never needs to
// be held whole: stored and Zstandard containers.
bool isPiecewiseDecodable(const QByteArray& Bytes);

// Decodes such a container into Sink, a piece of at most a few MiB at a time; the container must
// declare ExpectedUnpackedSize and produce exactly that. Throws shared::TDecompressionError for a
// container that does not decode, or one that is not piecewise decodable.
void decodeContainerPiecewise(const QByteArray& Bytes, std::uint64_t ExpectedUnpackedSize,
                              const TContainerSink& Sink);

} // namespace shared
