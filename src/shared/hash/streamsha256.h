#pragma once

#include "shared/hash/sha256rounds.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace shared {

// SHA-256 on the processor's SHA extensions whose whole blocks a caller may also run itself, step
// by step between other work on the same bytes (see sha256rounds.h). Gives the same digests as
// TSha256; use it only where sha256RoundsAvailable() is true.
class TStreamSha256
{
public:
    TStreamSha256() { restart(); }

    void addData(const unsigned char* Data, std::size_t Length);
    // The digest of everything added since construction or the last result; starts anew.
    QByteArray result();

    // A caller that hashes whole blocks itself may do so only at a block boundary (after
    // bytesToBlockBoundary() more bytes went through addData): then it
    // runs the rounds on lanes() and counts each block it finished with blocksHashed().
    std::size_t bytesToBlockBoundary() const { return m_Buffered == 0 ? 0 : 64 - m_Buffered; }
    TSha256Lanes& lanes() { return m_Lanes; }
    void blocksHashed(std::size_t Blocks) { m_Length += 64 * std::uint64_t(Blocks); }

private:
    void restart();

    TSha256Lanes m_Lanes{};
    std::uint64_t m_Length = 0;
    std::size_t m_Buffered = 0;
    alignas(16) unsigned char m_Block[64] = {};
};

} // namespace shared
