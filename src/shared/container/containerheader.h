#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace shared {

constexpr unsigned char kContainerMarker = 0x70;
constexpr unsigned kContainerMaxHeaderCodecId = 23;

struct TContainerHeader
{
    unsigned m_nCodecId = 0;
    std::uint64_t m_nUnpackedSize = 0;
    std::uint64_t m_nPackedSize = 0;
    // Offset of the payload from the start of the data, leading zero bytes included.
    std::size_t m_nPayloadOffset = 0;
};

enum class EContainerHeaderStatus {
    NotContainer,
    // The bytes announce a container, but a size field runs past the end of the data.
    Truncated,
    Valid,
};

// Writes one unsigned variable-length integer (7 bits a byte, least significant group first).
void appendContainerVarint(QByteArray& target, std::uint64_t value);

EContainerHeaderStatus readContainerHeader(const QByteArray& bytes, TContainerHeader& header);

bool isPackedContainer(const QByteArray& bytes);

} // namespace shared
