#pragma once

#include <QtGlobal>

#include <cstddef>

namespace shared {

// Chunk lengths of the package format: a chunk never ends in its first 4 MiB and always ends at
// 16 MiB; in between it ends after the first byte where the 22 low bits of the rolling hash are 0.
inline constexpr quint64 kMinimumChunkLength = 4194304;
inline constexpr quint64 kMaximumChunkLength = 16777216;
inline constexpr quint32 kChunkBoundaryMask = 0x3FFFFF;

// Finds where content-defined chunks end in a byte stream fed piece by piece, so a file of any
// size is cut with a buffer of any size. The end of the stream ends the last chunk wherever it is.
class TContentDefinedChunker
{
public:
    // How many leading bytes of the piece belong to the current chunk. When the chunk ends among
    // them, chunkEnded() turns true and the next call begins a new chunk.
    std::size_t feed(const uchar* data, std::size_t length);
    bool chunkEnded() const { return m_bEnded; }
    // Bytes of the current chunk so far, or of the chunk that just ended.
    quint64 chunkLength() const { return m_Length; }

private:
    quint64 m_Length = 0;
    quint32 m_Hash = 0;
    bool m_bEnded = false;
};

} // namespace shared
