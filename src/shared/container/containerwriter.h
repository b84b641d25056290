#pragma once

#include "shared/container/containercodec.h"

#include <QByteArray>

namespace shared {

// Level of a codec's own choosing: DEFLATE 6, LZMA and lzip preset 6, ZPAQ level 1.
constexpr int kContainerDefaultLevel = -1;

// Wraps data in a compressed container; the same data and settings always give the same bytes.
// Levels: DEFLATE 0..9, LZMA and lzip presets 0..9, ZPAQ 1..5; stored ignores the level.
// Throws std::invalid_argument for empty data (a container of nothing does not decode) and for
// a level the codec does not know.
QByteArray makeContainer(const QByteArray& data, EContainerCodec codec,
                         int level = kContainerDefaultLevel);

} // namespace shared
