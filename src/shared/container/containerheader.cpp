#include "shared/container/containerheader.h"

namespace shared {

namespace {

constexpr int kMaxVarintBytes = 10;

bool readVarint(const QByteArray& bytes, std::size_t& position, std::uint64_t& value)
{
    value = 0;
    const auto size = static_cast<std::size_t>(bytes.size());
    for (int i = 0; i < kMaxVarintBytes; ++i) {
        if (position >= size) {
            return false;
        }
        const auto byte = static_cast<unsigned char>(bytes[static_cast<int>(position++)]);
        // The tenth group lands at bit 63: only its lowest bit has room in 64 bits.
        value |= static_cast<std::uint64_t>(byte & 0x7f) << (7 * i);
        if ((byte & 0x80) == 0) {
            return true;
        }
    }
    return false;
}

// Position of the first non-zero byte, or the size when there is none.
std::size_t markerPosition(const QByteArray& bytes)
{
    std::size_t position = 0;
    const auto size = static_cast<std::size_t>(bytes.size());
    while (position < size && bytes[static_cast<int>(position)] == '\0') {
        ++position;
    }
    return position;
}

} // namespace

void appendContainerVarint(QByteArray& target, std::uint64_t value)
{
    while (value >= 0x80) {
        target.append(static_cast<char>((value & 0x7f) | 0x80));
        value >>= 7;
    }
    target.append(static_cast<char>(value));
}

bool isPackedContainer(const QByteArray& bytes)
{
    const std::size_t marker = markerPosition(bytes);
    if (marker + 2 > static_cast<std::size_t>(bytes.size())) {
        return false;
    }
    return static_cast<unsigned char>(bytes[static_cast<int>(marker)]) == kContainerMarker &&
           static_cast<unsigned char>(bytes[static_cast<int>(marker + 1)]) <=
               kContainerMaxHeaderCodecId;
}

EContainerHeaderStatus readContainerHeader(const QByteArray& bytes, TContainerHeader& header)
{
    if (!isPackedContainer(bytes)) {
        return EContainerHeaderStatus::NotContainer;
    }
    std::size_t position = markerPosition(bytes);
    header.m_nCodecId = static_cast<unsigned char>(bytes[static_cast<int>(position + 1)]);
    position += 2;
    if (!readVarint(bytes, position, header.m_nUnpackedSize) ||
        !readVarint(bytes, position, header.m_nPackedSize)) {
        return EContainerHeaderStatus::Truncated;
    }
    header.m_nPayloadOffset = position;
    return EContainerHeaderStatus::Valid;
}

} // namespace shared
