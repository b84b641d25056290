#pragma once

#include <QByteArray>

#include <cstddef>

namespace shared {

// Inflates a raw DEFLATE stream into output[0..capacity). Fails on corrupt or truncated input and
// on a stream that would not fit. On success outputLength becomes the number of bytes produced.
bool inflateRawDeflate(const char* input, std::size_t inputLength, char* output,
                       std::size_t& outputLength);

// A raw DEFLATE stream (no zlib or gzip wrapper) at the given zlib level.
QByteArray deflateRaw(const QByteArray& data, int level);

} // namespace shared
