#include "barecalls.h"

#include <lzma.h>
#include <zlib.h>

#include <cstdint>

namespace barecalls {

namespace {

bool runLzma(lzma_stream& stream, const char* input, std::size_t inputLength, char* output,
             std::size_t capacity)
{
    stream.next_in = reinterpret_cast<const std::uint8_t*>(input);
    stream.avail_in = inputLength;
    stream.next_out = reinterpret_cast<std::uint8_t*>(output);
    stream.avail_out = capacity;
    const lzma_ret result = lzma_code(&stream, LZMA_FINISH);
    lzma_end(&stream);
    return result == LZMA_STREAM_END;
}

} // namespace

bool inflate(const char* input, std::size_t inputLength, char* output, std::size_t capacity)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
    stream.avail_in = static_cast<uInt>(inputLength);
    stream.next_out = reinterpret_cast<Bytef*>(output);
    stream.avail_out = static_cast<uInt>(capacity);
    const int result = ::inflate(&stream, Z_FINISH);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}

bool lzipDecode(const char* input, std::size_t inputLength, char* output, std::size_t capacity)
{
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_lzip_decoder(&stream, UINT64_MAX, 0) != LZMA_OK) {
        return false;
    }
    return runLzma(stream, input, inputLength, output, capacity);
}

bool lzmaAloneDecode(const char* input, std::size_t inputLength, char* output, std::size_t capacity)
{
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_decoder(&stream, UINT64_MAX) != LZMA_OK) {
        return false;
    }
    return runLzma(stream, input, inputLength, output, capacity);
}

} // namespace barecalls
