#pragma once

#include <QByteArray>

#include <cstddef>

namespace shared {

// Decodes a ZPAQ stream (levels 1 and 2, any number of blocks and segments) into
// output[0..capacity). Every failure of the stream, including one the decoder reports as fatal,
// is a false result, and so are a segment whose stored SHA-1 disagrees and a stream that holds
// more than the capacity, and a block whose model asks for more memory than the capacity could
// need (within a fixed ceiling), refused before the model is allocated. On success outputLength
// becomes the number of bytes produced.
bool decodeZpaq(const char* input, std::size_t inputLength, char* output,
                std::size_t& outputLength);

// A ZPAQ stream made with one of the library's levels, "1" (fast) to "5" (strong).
QByteArray encodeZpaq(const QByteArray& data, int level);

} // namespace shared
