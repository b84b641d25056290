#pragma once

#include "shared/container/containercodec.h"

#include <QByteArray>

namespace shared {

// Level of a codec's own choosing: DEFLATE 6, LZMA and lzip preset 6, ZPAQ level 1, Zstandard 19.
constexpr int kContainerDefaultLevel = -1;

// How a container is packed.
struct TContainerSettings
{
    EContainerCodec m_eCodec = EContainerCodec::Stored;
    int m_nLevel = kContainerDefaultLevel;
    // Zstandard only: long-distance matching over a window of up to 128 MiB.
    bool m_bLongDistance = false;
};

// Wraps data in a compressed container; the same data and settings always give the same bytes.
// Levels: DEFLATE 0..9, LZMA and lzip presets 0..9, ZPAQ 1..5, Zstandard 1..zstdMaxLevel();
// stored ignores the level. Throws std::invalid_argument for empty data (a container of nothing
// does not decode), for a level the codec does not know and for long-distance matching with a
// codec other than Zstandard.
QByteArray makeContainer(const QByteArray& data, EContainerCodec codec,
                         int level = kContainerDefaultLevel);
QByteArray makeContainer(const QByteArray& Data, const TContainerSettings& Settings);

} // namespace shared
