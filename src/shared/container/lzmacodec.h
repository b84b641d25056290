#pragma once

#include <QByteArray>

#include <cstddef>

namespace shared {

// Decodes a stream in the classic .lzma layout (properties byte, dictionary size, an ignored
// size field, range-coded data) until its end marker or a full output; outputLength becomes the
// number of bytes produced.
bool decodeLzmaAlone(const char* input, std::size_t inputLength, char* output,
                     std::size_t& outputLength);

// A classic .lzma stream with an unknown size field and an end marker, at a preset of 0..9.
QByteArray encodeLzmaAlone(const QByteArray& data, int preset);

} // namespace shared
