#include "shared/chunker/contentdefinedchunker.h"

#include "shared/chunker/gear.h"

#include <algorithm>

namespace shared {

std::size_t TContentDefinedChunker::feed(const uchar* data, std::size_t length)
{
    if (m_bEnded) {
        // The hash restarts with every chunk: boundaries must not depend on earlier chunks.
        m_Length = 0;
        m_Hash = 0;
        m_bEnded = false;
    }

    std::size_t consumed = 0;
    if (m_Length < kMinimumChunkLength) {
        const std::size_t head =
            std::size_t(std::min<quint64>(length, kMinimumChunkLength - m_Length));
        m_Length += head;
        consumed = head;
    }
    if (consumed == length)
        return consumed;

    const std::size_t limit =
        std::size_t(std::min<quint64>(length - consumed, kMaximumChunkLength - m_Length));
    const uchar* const begin = data + consumed;
    quint32 hash = m_Hash;
    for (std::size_t i = 0; i < limit; ++i) {
        hash = (hash >> 1) + kGear[begin[i]];
        if ((hash & kChunkBoundaryMask) == 0) {
            m_Hash = hash;
            m_Length += i + 1;
            m_bEnded = true;
            return consumed + i + 1;
        }
    }
    m_Hash = hash;
    m_Length += limit;
    m_bEnded = m_Length == kMaximumChunkLength;
    return consumed + limit;
}

} // namespace shared
