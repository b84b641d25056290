#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace shared {

struct TLzmaProperties
{
    unsigned m_nLiteralContextBits = 3;
    unsigned m_nLiteralPositionBits = 0;
    unsigned m_nPositionBits = 2;
    std::uint32_t m_nDictionarySize = 1u << 23;
};

enum class ERawLzmaOutcome {
    EndMarker,
    OutputFull,
    Failed,
};

struct TRawLzmaResult
{
    ERawLzmaOutcome m_eOutcome = ERawLzmaOutcome::Failed;
    std::size_t m_nProduced = 0;
    std::size_t m_nConsumed = 0;
};

// Decodes LZMA range-coded data (no header) into output[0..capacity) until its end marker or a
// full output. With mustEndWithinCapacity, a stream that still has data once the output is full
// is a failure instead of OutputFull.
TRawLzmaResult decodeRawLzma(const char* input, std::size_t inputLength,
                             const TLzmaProperties& properties, char* output, std::size_t capacity,
                             bool mustEndWithinCapacity);

// LZMA range-coded data at a preset of 0..9, always closed by the end marker.
QByteArray encodeRawLzma(const QByteArray& data, const TLzmaProperties& properties, int preset);

// The smallest power of two that holds the data, within [4 KiB, limit].
std::uint32_t dictionarySizeFor(std::size_t dataSize, std::uint32_t limit);

} // namespace shared
