#pragma once

namespace shared {

// Codec ids of the compressed container that this launcher can decode and write. Other ids in
// 0..23 are valid in a header but have no decoder.
enum class EContainerCodec : unsigned char {
    Stored = 0,
    Deflate = 3,
    Lzip = 4,
    Lzma = 5,
    Zpaq = 6,
    Zstd = 8,
    LzmaAlias = 10,
};

} // namespace shared
