#include "shared/container/lzipcodec.h"

#include "shared/container/rawlzma.h"

#include <lzma.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace shared {

namespace {

constexpr char kMagic[] = {'L', 'Z', 'I', 'P'};
constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kCrcAndDataSize = 4 + 8;
constexpr unsigned kLargestDictionaryExponent = 29;

std::uint64_t readLittleEndian(const char* bytes, int count)
{
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) {
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    }
    return value;
}

void appendLittleEndian(QByteArray& target, std::uint64_t value, int count)
{
    for (int i = 0; i < count; ++i) {
        target.append(static_cast<char>(value >> (8 * i)));
    }
}

std::uint32_t crc32Of(const char* data, std::size_t length)
{
    return static_cast<std::uint32_t>(
        crc32_z(crc32_z(0, nullptr, 0), reinterpret_cast<const Bytef*>(data), length));
}

} // namespace

bool decodeLzipMember(const char* input, std::size_t inputLength, char* output,
                      std::size_t& outputLength)
{
    if (inputLength < kHeaderSize || std::memcmp(input, kMagic, sizeof kMagic) != 0) {
        return false;
    }
    TLzmaProperties properties;
    // The fraction bits of the coded size only ever make it smaller: the power of two suffices.
    const unsigned exponent = static_cast<unsigned char>(input[5]) & 0x1f;
    properties.m_nDictionarySize = std::uint32_t(1) << exponent;

    const TRawLzmaResult result = decodeRawLzma(input + kHeaderSize, inputLength - kHeaderSize,
                                                properties, output, outputLength, true);
    if (result.m_eOutcome != ERawLzmaOutcome::EndMarker) {
        return false;
    }
    const std::size_t trailerOffset = kHeaderSize + result.m_nConsumed;
    if (inputLength - trailerOffset < kCrcAndDataSize) {
        return false;
    }
    const char* trailer = input + trailerOffset;
    if (readLittleEndian(trailer, 4) != crc32Of(output, result.m_nProduced) ||
        readLittleEndian(trailer + 4, 8) != result.m_nProduced) {
        return false;
    }
    outputLength = result.m_nProduced;
    return true;
}

QByteArray encodeLzipMember(const QByteArray& data, int preset)
{
    lzma_options_lzma presetOptions{};
    if (lzma_lzma_preset(&presetOptions, static_cast<std::uint32_t>(preset))) {
        throw std::invalid_argument("Unknown LZMA preset");
    }
    TLzmaProperties properties;
    properties.m_nDictionarySize = dictionarySizeFor(
        static_cast<std::size_t>(data.size()),
        std::min(presetOptions.dict_size, std::uint32_t(1) << kLargestDictionaryExponent));
    unsigned exponent = 0;
    while ((std::uint32_t(1) << exponent) < properties.m_nDictionarySize) {
        ++exponent;
    }

    QByteArray member(kMagic, sizeof kMagic);
    member.append(char(1));
    member.append(static_cast<char>(exponent));
    member.append(encodeRawLzma(data, properties, preset));
    appendLittleEndian(member, crc32Of(data.constData(), static_cast<std::size_t>(data.size())), 4);
    appendLittleEndian(member, static_cast<std::uint64_t>(data.size()), 8);
    appendLittleEndian(member, static_cast<std::uint64_t>(member.size()) + 8, 8);
    return member;
}

} // namespace shared
