#include "shared/chunker/onepassscan.h"

#include "shared/chunker/contentdefinedchunker.h"
#include "shared/chunker/gear.h"
#include "shared/hash/streamsha256.h"

#include <QIODevice>

#include <algorithm>
#include <utility>
#include <vector>

namespace shared {

namespace {

// Rolling-hash steps without the digest; true when the chunk ends at the byte just stepped.
__attribute__((always_inline)) inline bool gearStep(quint32& Hash, unsigned char Byte)
{
    Hash = (Hash >> 1) + kGear[Byte];
    return (Hash & kChunkBoundaryMask) == 0;
}

std::size_t gearOnly(quint32& Hash, const unsigned char* Data, std::size_t Length, bool& bEnded)
{
    for (std::size_t i = 0; i < Length; ++i)
        if (gearStep(Hash, Data[i])) {
            bEnded = true;
            return i + 1;
        }
    return Length;
}

// Round group G of the block, then the rolling hash over the same 4 bytes. False with At set
// when the chunk ended at one of them.
template <int G>
KESTRUN_SHA_STEP bool groupThenGear(TSha256Block& Block, TSha256Lanes& Lanes,
                                    const unsigned char* Data, quint32& Hash, int& At)
{
    sha256RoundGroup<G>(Block, Lanes, Data);
    // Written out: a loop here costs a counter and a compare per byte, and the compiler keeps the
    // rounds and these steps interleaved as written.
    constexpr int first = 4 * G;
    if (gearStep(Hash, Data[first]))
        At = first;
    else if (gearStep(Hash, Data[first + 1]))
        At = first + 1;
    else if (gearStep(Hash, Data[first + 2]))
        At = first + 2;
    else if (gearStep(Hash, Data[first + 3]))
        At = first + 3;
    else
        return true;
    return false;
}

template <int... Groups>
KESTRUN_SHA_STEP bool blockThenGear(TSha256Block& Block, TSha256Lanes& Lanes,
                                    const unsigned char* Data, quint32& Hash, int& At,
                                    std::integer_sequence<int, Groups...> /*unused*/)
{
    return (groupThenGear<Groups>(Block, Lanes, Data, Hash, At) && ...);
}

// Both hashes over whole blocks. Returns the blocks hashed into Lanes; when the chunk ends inside
// a block, that block is left out of Lanes and Cut is the chunk's end, counted from Data.
KESTRUN_SHA_TARGET std::size_t cutAndHashBlocks(quint32& Hash, const unsigned char* Data,
                                                std::size_t Blocks, TSha256Lanes& Lanes,
                                                std::size_t& Cut)
{
    // Copies the compiler keeps in registers: rounds on memory wait for every store.
    TSha256Lanes lanes = Lanes;
    quint32 hash = Hash;
    TSha256Block block;
    for (std::size_t b = 0; b < Blocks; ++b) {
        const unsigned char* const bytes = Data + 64 * b;
        sha256BeginBlock(block, lanes);
        int at = 0;
        if (!blockThenGear(block, lanes, bytes, hash, at, std::make_integer_sequence<int, 16>())) {
            Lanes = block.Before;
            Hash = hash;
            Cut = 64 * b + std::size_t(at) + 1;
            return b;
        }
    }
    Lanes = lanes;
    Hash = hash;
    return Blocks;
}

// The part of a chunk where it may end: both hashes over up to Length bytes. Returns the bytes
// that belong to the chunk; bEnded when it ended among them.
std::size_t cutAndHash(quint32& Hash, const unsigned char* Data, std::size_t Length,
                       TStreamSha256& Digest, bool& bEnded)
{
    // The digest's own buffer first, so the blocks below start where its blocks start.
    std::size_t done =
        gearOnly(Hash, Data, std::min(Length, Digest.bytesToBlockBoundary()), bEnded);
    Digest.addData(Data, done);
    if (bEnded)
        return done;

    const std::size_t blocks = (Length - done) / 64;
    std::size_t cut = 0;
    const std::size_t hashed = cutAndHashBlocks(Hash, Data + done, blocks, Digest.lanes(), cut);
    Digest.blocksHashed(hashed);
    if (cut > 0) {
        Digest.addData(Data + done + 64 * hashed, cut - 64 * hashed);
        bEnded = true;
        return done + cut;
    }
    done += 64 * blocks;

    const std::size_t tail = gearOnly(Hash, Data + done, Length - done, bEnded);
    Digest.addData(Data + done, tail);
    return done + tail;
}

} // namespace

bool scanInOnePass(QIODevice& Device, const TChunkReceiver& Receiver, std::size_t ReadSize)
{
    std::vector<char> buffer(std::max<std::size_t>(ReadSize, 1));
    TStreamSha256 digest;
    quint64 length = 0;
    quint32 hash = 0;
    for (;;) {
        const qint64 read = Device.read(buffer.data(), qint64(buffer.size()));
        if (read < 0)
            return false;
        if (read == 0)
            break;
        const auto* piece = reinterpret_cast<const unsigned char*>(buffer.data());
        std::size_t remaining = std::size_t(read);
        while (remaining > 0) {
            bool ended = false;
            std::size_t taken = 0;
            if (length < kMinimumChunkLength) {
                // The head of a chunk is never cut: only the digest reads it.
                taken = std::size_t(std::min<quint64>(remaining, kMinimumChunkLength - length));
                digest.addData(piece, taken);
            } else {
                const std::size_t limit =
                    std::size_t(std::min<quint64>(remaining, kMaximumChunkLength - length));
                taken = cutAndHash(hash, piece, limit, digest, ended);
            }
            piece += taken;
            remaining -= taken;
            length += taken;
            if (ended || length == kMaximumChunkLength) {
                Receiver(digest.result(), length);
                // The rolling hash restarts with every chunk, as the publisher's does.
                length = 0;
                hash = 0;
            }
        }
    }
    if (length > 0)
        Receiver(digest.result(), length);
    return true;
}

} // namespace shared
