#include "shared/container/deflatecodec.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace shared {

namespace {

// zlib counts in 32-bit units; larger buffers are handed over piece by piece.
constexpr std::size_t kMaxZlibChunk = std::numeric_limits<uInt>::max();

} // namespace

bool inflateRawDeflate(const char* input, std::size_t inputLength, char* output,
                       std::size_t& outputLength)
{
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        return false;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
    stream.next_out = reinterpret_cast<Bytef*>(output);
    std::size_t inputLeft = inputLength;
    std::size_t outputLeft = outputLength;
    int result = Z_OK;
    while (result == Z_OK) {
        if (stream.avail_in == 0 && inputLeft > 0) {
            stream.avail_in = static_cast<uInt>(std::min(inputLeft, kMaxZlibChunk));
            inputLeft -= stream.avail_in;
        }
        if (stream.avail_out == 0 && outputLeft > 0) {
            stream.avail_out = static_cast<uInt>(std::min(outputLeft, kMaxZlibChunk));
            outputLeft -= stream.avail_out;
        }
        // With everything handed over, Z_FINISH lets zlib decode straight into the output
        // without keeping a window of its own.
        const int flush = inputLeft == 0 && outputLeft == 0 ? Z_FINISH : Z_NO_FLUSH;
        // Truncated input and output that would overflow both end here as Z_BUF_ERROR.
        result = inflate(&stream, flush);
    }
    inflateEnd(&stream);
    if (result != Z_STREAM_END) {
        return false;
    }
    outputLength = static_cast<std::size_t>(stream.total_out);
    return true;
}

QByteArray deflateRaw(const QByteArray& data, int level)
{
    z_stream stream{};
    if (deflateInit2(&stream, level, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) {
        throw std::runtime_error("Could not start DEFLATE compression");
    }
    const uLong bound = deflateBound(&stream, static_cast<uLong>(data.size()));
    if (bound > static_cast<uLong>(std::numeric_limits<int>::max())) {
        deflateEnd(&stream);
        throw std::length_error("Data too large for DEFLATE compression");
    }
    QByteArray packed(static_cast<int>(bound), Qt::Uninitialized);
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(packed.data());
    stream.avail_out = static_cast<uInt>(bound);
    const int result = deflate(&stream, Z_FINISH);
    const auto produced = static_cast<int>(stream.total_out);
    deflateEnd(&stream);
    if (result != Z_STREAM_END) {
        throw std::runtime_error("DEFLATE compression failed");
    }
    packed.resize(produced);
    return packed;
}

} // namespace shared
