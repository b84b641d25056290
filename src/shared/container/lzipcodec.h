#pragma once

#include <QByteArray>

#include <cstddef>

namespace shared {

// Decodes one lzip member into output[0..capacity). Fails on a bad magic, corrupt or truncated
// data, data that would not fit, and a trailer whose CRC-32 or data size disagrees with what was
// decoded. On success outputLength becomes the number of bytes produced.
bool decodeLzipMember(const char* input, std::size_t inputLength, char* output,
                      std::size_t& outputLength);

// One lzip member (version 1) at an LZMA preset of 0..9.
QByteArray encodeLzipMember(const QByteArray& data, int preset);

} // namespace shared
