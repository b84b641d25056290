#pragma once

#include <QtGlobal>

#include <array>

namespace shared {

// The rolling-hash value of each byte value for content-defined chunking.
extern const std::array<quint32, 256> kGear;

} // namespace shared
