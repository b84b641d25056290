#include "shared/container/containerwriter.h"

#include "shared/container/containerheader.h"
#include "shared/container/deflatecodec.h"
#include "shared/container/lzipcodec.h"
#include "shared/container/lzmacodec.h"
#include "shared/container/zpaqcodec.h"
#include "shared/container/zstdcodec.h"

#include <cstdint>
#include <stdexcept>

namespace shared {

namespace {

int levelOrDefault(int level, int defaultLevel, int lowest, int highest)
{
    if (level == kContainerDefaultLevel) {
        return defaultLevel;
    }
    if (level < lowest || level > highest) {
        throw std::invalid_argument("Compression level out of range");
    }
    return level;
}

QByteArray encodePayload(const QByteArray& data, const TContainerSettings& settings)
{
    const int level = settings.m_nLevel;
    if (settings.m_bLongDistance && settings.m_eCodec != EContainerCodec::Zstd) {
        throw std::invalid_argument("Long-distance matching is a Zstandard setting");
    }
    switch (settings.m_eCodec) {
    case EContainerCodec::Stored:
        return data;
    case EContainerCodec::Deflate:
        return deflateRaw(data, levelOrDefault(level, 6, 0, 9));
    case EContainerCodec::Lzip:
        return encodeLzipMember(data, levelOrDefault(level, 6, 0, 9));
    case EContainerCodec::Lzma:
    case EContainerCodec::LzmaAlias:
        return encodeLzmaAlone(data, levelOrDefault(level, 6, 0, 9));
    case EContainerCodec::Zpaq:
        return encodeZpaq(data, levelOrDefault(level, 1, 1, 5));
    case EContainerCodec::Zstd:
        return encodeZstd(data, levelOrDefault(level, 19, 1, zstdMaxLevel()),
                          settings.m_bLongDistance);
    }
    throw std::invalid_argument("Unknown container codec");
}

} // namespace

QByteArray makeContainer(const QByteArray& data, EContainerCodec codec, int level)
{
    return makeContainer(data, TContainerSettings{codec, level, false});
}

QByteArray makeContainer(const QByteArray& Data, const TContainerSettings& Settings)
{
    if (Data.isEmpty()) {
        throw std::invalid_argument("A container needs at least one byte of data");
    }
    const QByteArray payload = encodePayload(Data, Settings);
    QByteArray container;
    container.reserve(payload.size() + 22);
    container.append(static_cast<char>(kContainerMarker));
    container.append(static_cast<char>(Settings.m_eCodec));
    appendContainerVarint(container, static_cast<std::uint64_t>(Data.size()));
    appendContainerVarint(container, static_cast<std::uint64_t>(payload.size()));
    container.append(payload);
    return container;
}

} // namespace shared
