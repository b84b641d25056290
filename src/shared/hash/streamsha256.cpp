#include "shared/hash/streamsha256.h"

#include <cpuid.h>

#include <algorithm>
#include <cstring>

namespace shared {

bool sha256RoundsAvailable()
{
    static const bool available = [] {
        unsigned int eax = 0;
        unsigned int ebx = 0;
        unsigned int ecx = 0;
        unsigned int edx = 0;
        if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
            return false;
        const bool sse41 = (ecx & bit_SSE4_1) != 0 && (ecx & bit_SSSE3) != 0;
        if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
            return false;
        return sse41 && (ebx & bit_SHA) != 0;
    }();
    return available;
}

KESTRUN_SHA_TARGET void TStreamSha256::restart()
{
    static constexpr std::uint32_t initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    m_Lanes = sha256LoadLanes(initial);
    m_Length = 0;
    m_Buffered = 0;
}

KESTRUN_SHA_TARGET void TStreamSha256::addData(const unsigned char* Data, std::size_t Length)
{
    m_Length += Length;
    if (m_Buffered > 0) {
        const std::size_t taken = std::min(Length, 64 - m_Buffered);
        std::memcpy(m_Block + m_Buffered, Data, taken);
        m_Buffered += taken;
        Data += taken;
        Length -= taken;
        if (m_Buffered < 64)
            return;
        sha256Blocks(m_Lanes, m_Block, 1);
        m_Buffered = 0;
    }
    sha256Blocks(m_Lanes, Data, Length / 64);
    m_Buffered = Length % 64;
    std::memcpy(m_Block, Data + Length - m_Buffered, m_Buffered);
}

KESTRUN_SHA_TARGET QByteArray TStreamSha256::result()
{
    const std::uint64_t bits = m_Length * 8;
    std::memset(m_Block + m_Buffered, 0, 64 - m_Buffered);
    m_Block[m_Buffered] = 0x80;
    if (m_Buffered >= 56) {
        sha256Blocks(m_Lanes, m_Block, 1);
        std::memset(m_Block, 0, 64);
    }
    for (int i = 0; i < 8; ++i)
        m_Block[63 - i] = static_cast<unsigned char>(bits >> (8 * i));
    sha256Blocks(m_Lanes, m_Block, 1);

    std::uint32_t state[8];
    sha256StoreLanes(m_Lanes, state);
    QByteArray digest(32, Qt::Uninitialized);
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = char(state[i] >> (24 - 8 * j));
    restart();
    return digest;
}

} // namespace shared
