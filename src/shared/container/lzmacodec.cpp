#include "shared/container/lzmacodec.h"

#include "shared/container/rawlzma.h"

#include <lzma.h>

#include <cstdint>
#include <stdexcept>

namespace shared {

namespace {

constexpr std::size_t kHeaderSize = 13;
// Every range-coded stream opens with five bytes.
constexpr std::size_t kMinimumSize = kHeaderSize + 5;
constexpr unsigned kPropertiesLimit = 9 * 5 * 5;

std::uint32_t readLittleEndian32(const unsigned char* bytes)
{
    return std::uint32_t(bytes[0]) | std::uint32_t(bytes[1]) << 8 | std::uint32_t(bytes[2]) << 16 |
           std::uint32_t(bytes[3]) << 24;
}

} // namespace

bool decodeLzmaAlone(const char* input, std::size_t inputLength, char* output,
                     std::size_t& outputLength)
{
    if (inputLength < kMinimumSize) {
        return false;
    }
    const auto* header = reinterpret_cast<const unsigned char*>(input);
    const unsigned propertiesByte = header[0];
    if (propertiesByte >= kPropertiesLimit) {
        return false;
    }
    TLzmaProperties properties;
    properties.m_nLiteralContextBits = propertiesByte % 9;
    properties.m_nLiteralPositionBits = propertiesByte / 9 % 5;
    properties.m_nPositionBits = propertiesByte / 45;
    properties.m_nDictionarySize = readLittleEndian32(header + 1);

    const TRawLzmaResult result = decodeRawLzma(input + kHeaderSize, inputLength - kHeaderSize,
                                                properties, output, outputLength, false);
    if (result.m_eOutcome == ERawLzmaOutcome::Failed) {
        return false;
    }
    outputLength = result.m_nProduced;
    return true;
}

QByteArray encodeLzmaAlone(const QByteArray& data, int preset)
{
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, static_cast<std::uint32_t>(preset))) {
        throw std::invalid_argument("Unknown LZMA preset");
    }
    // Small inputs need no large dictionary, and a decoder then needs no large allocation.
    options.dict_size = dictionarySizeFor(static_cast<std::size_t>(data.size()), options.dict_size);
    lzma_stream stream = LZMA_STREAM_INIT;
    if (lzma_alone_encoder(&stream, &options) != LZMA_OK) {
        throw std::runtime_error("Could not start LZMA compression");
    }
    QByteArray packed(data.size() + data.size() / 2 + 4096, Qt::Uninitialized);
    stream.next_in = reinterpret_cast<const std::uint8_t*>(data.constData());
    stream.avail_in = static_cast<std::size_t>(data.size());
    stream.next_out = reinterpret_cast<std::uint8_t*>(packed.data());
    stream.avail_out = static_cast<std::size_t>(packed.size());
    lzma_ret code = LZMA_OK;
    while (code == LZMA_OK) {
        code = lzma_code(&stream, LZMA_FINISH);
    }
    const auto produced = static_cast<int>(stream.total_out);
    lzma_end(&stream);
    if (code != LZMA_STREAM_END) {
        throw std::runtime_error("LZMA compression failed");
    }
    packed.resize(produced);
    return packed;
}

} // namespace shared
