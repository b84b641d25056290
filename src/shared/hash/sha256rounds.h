#pragma once

// The block rounds of SHA-256 with the x86 SHA extensions, as inline steps, so a loop that has
// other work on the same bytes (the chunker's rolling hash) can run them between its own: the
// rounds wait on their own results most of the time, and the other work fills those cycles.
// Only call these after sha256RoundsAvailable() said yes.

#include <immintrin.h>

#include <cstddef>
#include <cstdint>
#include <utility>

#define KESTRUN_SHA_TARGET __attribute__((target("sha,sse4.1,ssse3")))
// The steps must melt into their caller: as calls they keep the state in memory.
#define KESTRUN_SHA_STEP __attribute__((target("sha,sse4.1,ssse3"), always_inline)) inline

namespace shared {

// True when the processor has the SHA extensions and SSE4.1.
bool sha256RoundsAvailable();

// The eight state words in the order the SHA instructions want them (ABEF and CDGH).
struct TSha256Lanes
{
    __m128i Abef;
    __m128i Cdgh;
};

// One 64-byte block being hashed: its message schedule and the state before it.
struct TSha256Block
{
    __m128i Words[4];
    TSha256Lanes Before;
};

alignas(16) inline constexpr std::uint32_t kSha256RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

KESTRUN_SHA_STEP TSha256Lanes sha256LoadLanes(const std::uint32_t* State)
{
    const __m128i dcba =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(State)), 0xB1);
    const __m128i efgh =
        _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(State + 4)), 0x1B);
    return {_mm_alignr_epi8(dcba, efgh, 8), _mm_blend_epi16(efgh, dcba, 0xF0)};
}

KESTRUN_SHA_STEP void sha256StoreLanes(const TSha256Lanes& Lanes, std::uint32_t* State)
{
    const __m128i feba = _mm_shuffle_epi32(Lanes.Abef, 0x1B);
    const __m128i dchg = _mm_shuffle_epi32(Lanes.Cdgh, 0xB1);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(State), _mm_blend_epi16(feba, dchg, 0xF0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(State + 4), _mm_alignr_epi8(dchg, feba, 8));
}

KESTRUN_SHA_STEP void sha256BeginBlock(TSha256Block& Block, const TSha256Lanes& Lanes)
{
    Block.Before = Lanes;
}

// Rounds 4 * Group to 4 * Group + 3 of the block at Data: Group runs from 0 to 15 in order.
template <int Group>
KESTRUN_SHA_STEP void sha256RoundGroup(TSha256Block& Block, TSha256Lanes& Lanes,
                                       const unsigned char* Data)
{
    __m128i* const w = Block.Words;
    if constexpr (Group < 4) {
        const __m128i byteSwap = _mm_set_epi64x(0x0c0d0e0f08090a0bLL, 0x0405060700010203LL);
        w[Group] = _mm_shuffle_epi8(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + 16 * Group)), byteSwap);
    }
    __m128i message = _mm_add_epi32(w[Group % 4], _mm_load_si128(reinterpret_cast<const __m128i*>(
                                                      kSha256RoundConstants + 4 * Group)));
    Lanes.Cdgh = _mm_sha256rnds2_epu32(Lanes.Cdgh, Lanes.Abef, message);
    if constexpr (Group >= 3 && Group <= 14) {
        __m128i& next = w[(Group + 1) % 4];
        next = _mm_add_epi32(next, _mm_alignr_epi8(w[Group % 4], w[(Group + 3) % 4], 4));
        next = _mm_sha256msg2_epu32(next, w[Group % 4]);
    }
    message = _mm_shuffle_epi32(message, 0x0E);
    Lanes.Abef = _mm_sha256rnds2_epu32(Lanes.Abef, Lanes.Cdgh, message);
    if constexpr (Group >= 1 && Group <= 12)
        w[(Group + 3) % 4] = _mm_sha256msg1_epu32(w[(Group + 3) % 4], w[Group % 4]);
    if constexpr (Group == 15) {
        Lanes.Abef = _mm_add_epi32(Lanes.Abef, Block.Before.Abef);
        Lanes.Cdgh = _mm_add_epi32(Lanes.Cdgh, Block.Before.Cdgh);
    }
}

template <int... Groups>
KESTRUN_SHA_STEP void sha256AllGroups(TSha256Block& Block, TSha256Lanes& Lanes,
                                      const unsigned char* Data,
                                      std::integer_sequence<int, Groups...> /*unused*/)
{
    (sha256RoundGroup<Groups>(Block, Lanes, Data), ...);
}

// Whole blocks with nothing in between.
KESTRUN_SHA_STEP void sha256Blocks(TSha256Lanes& Lanes, const unsigned char* Data,
                                   std::size_t Blocks)
{
    // A copy the compiler keeps in registers: rounds on memory wait for every store.
    TSha256Lanes lanes = Lanes;
    TSha256Block block;
    for (std::size_t i = 0; i < Blocks; ++i, Data += 64) {
        sha256BeginBlock(block, lanes);
        sha256AllGroups(block, lanes, Data, std::make_integer_sequence<int, 16>());
    }
    Lanes = lanes;
}

} // namespace shared
