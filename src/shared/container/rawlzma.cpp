#include "shared/container/rawlzma.h"

#include <lzma.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

namespace shared {

namespace {

constexpr std::uint32_t kMinDictionarySize = 4096;

class TLzmaStream
{
public:
    TLzmaStream() = default;
    TLzmaStream(const TLzmaStream&) = delete;
    TLzmaStream& operator=(const TLzmaStream&) = delete;
    ~TLzmaStream() { lzma_end(&m_stream); }

    lzma_stream m_stream = LZMA_STREAM_INIT;
};

lzma_options_lzma toOptions(const TLzmaProperties& properties)
{
    lzma_options_lzma options{};
    options.lc = properties.m_nLiteralContextBits;
    options.lp = properties.m_nLiteralPositionBits;
    options.pb = properties.m_nPositionBits;
    options.dict_size = properties.m_nDictionarySize;
    return options;
}

} // namespace

std::uint32_t dictionarySizeFor(std::size_t dataSize, std::uint32_t limit)
{
    std::uint32_t size = kMinDictionarySize;
    while (size < limit && size < dataSize) {
        size <<= 1;
    }
    return std::min(size, std::max(limit, kMinDictionarySize));
}

TRawLzmaResult decodeRawLzma(const char* input, std::size_t inputLength,
                             const TLzmaProperties& properties, char* output, std::size_t capacity,
                             bool mustEndWithinCapacity)
{
    TRawLzmaResult result;
    lzma_options_lzma options = toOptions(properties);
    // Matches never reach back beyond the output, so a dictionary larger than the output only
    // costs memory, and a hostile header could ask for gigabytes.
    const std::size_t usefulDictionary = std::max<std::size_t>(capacity, kMinDictionarySize);
    if (options.dict_size > usefulDictionary) {
        options.dict_size = static_cast<std::uint32_t>(usefulDictionary);
    }
    options.dict_size = std::max(options.dict_size, kMinDictionarySize);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    TLzmaStream stream;
    lzma_stream& s = stream.m_stream;
    if (lzma_raw_decoder(&s, filters) != LZMA_OK) {
        return result;
    }
    s.next_in = reinterpret_cast<const std::uint8_t*>(input);
    s.avail_in = inputLength;
    s.next_out = reinterpret_cast<std::uint8_t*>(output);
    s.avail_out = capacity;
    lzma_ret code = LZMA_OK;
    // liblzma reports LZMA_BUF_ERROR once it can make no more progress, so this ends.
    while (code == LZMA_OK && s.avail_out > 0) {
        code = lzma_code(&s, LZMA_FINISH);
    }
    result.m_nProduced = capacity - s.avail_out;
    if (code == LZMA_OK && mustEndWithinCapacity) {
        // The output is full: only an end marker may follow.
        std::uint8_t spare = 0;
        s.next_out = &spare;
        s.avail_out = 1;
        do {
            code = lzma_code(&s, LZMA_FINISH);
        } while (code == LZMA_OK && s.avail_out > 0);
        if (code != LZMA_STREAM_END || s.avail_out == 0) {
            return result;
        }
    }
    result.m_nConsumed = inputLength - s.avail_in;
    if (code == LZMA_STREAM_END) {
        result.m_eOutcome = ERawLzmaOutcome::EndMarker;
    } else if (code == LZMA_OK) {
        result.m_eOutcome = ERawLzmaOutcome::OutputFull;
    }
    return result;
}

QByteArray encodeRawLzma(const QByteArray& data, const TLzmaProperties& properties, int preset)
{
    lzma_options_lzma options{};
    if (lzma_lzma_preset(&options, static_cast<std::uint32_t>(preset))) {
        throw std::invalid_argument("Unknown LZMA preset");
    }
    options.lc = properties.m_nLiteralContextBits;
    options.lp = properties.m_nLiteralPositionBits;
    options.pb = properties.m_nPositionBits;
    options.dict_size = properties.m_nDictionarySize;
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

    TLzmaStream stream;
    lzma_stream& s = stream.m_stream;
    if (lzma_raw_encoder(&s, filters) != LZMA_OK) {
        throw std::runtime_error("Could not start LZMA compression");
    }
    QByteArray packed;
    packed.resize(static_cast<int>(std::min<qint64>(std::numeric_limits<int>::max(),
                                                    qint64(data.size()) + data.size() / 2 + 4096)));
    s.next_in = reinterpret_cast<const std::uint8_t*>(data.constData());
    s.avail_in = static_cast<std::size_t>(data.size());
    s.next_out = reinterpret_cast<std::uint8_t*>(packed.data());
    s.avail_out = static_cast<std::size_t>(packed.size());
    lzma_ret code = LZMA_OK;
    while (code == LZMA_OK) {
        code = lzma_code(&s, LZMA_FINISH);
    }
    if (code != LZMA_STREAM_END) {
        throw std::runtime_error("LZMA compression failed");
    }
    packed.resize(static_cast<int>(s.total_out));
    return packed;
}

} // namespace shared
