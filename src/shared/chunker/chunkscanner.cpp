#include "shared/chunker/chunkscanner.h"

#include "shared/chunker/contentdefinedchunker.h"
#include "shared/chunker/onepassscan.h"
#include "shared/hash/sha256.h"
#include "shared/hash/streamsha256.h"

#include <QIODevice>

#include <algorithm>
#include <vector>

namespace shared {

bool scanContentDefinedChunks(QIODevice& device, const TChunkReceiver& receiver,
                              std::size_t readSize)
{
    if (sha256RoundsAvailable())
        return scanInOnePass(device, receiver, readSize);
    return scanInTwoSteps(device, receiver, readSize);
}

bool scanInTwoSteps(QIODevice& Device, const TChunkReceiver& Receiver, std::size_t ReadSize)
{
    std::vector<char> buffer(std::max<std::size_t>(ReadSize, 1));
    TContentDefinedChunker chunker;
    TSha256 hash;
    for (;;) {
        const qint64 read = Device.read(buffer.data(), qint64(buffer.size()));
        if (read < 0)
            return false;
        if (read == 0)
            break;
        const auto* piece = reinterpret_cast<const uchar*>(buffer.data());
        std::size_t remaining = std::size_t(read);
        while (remaining > 0) {
            const std::size_t taken = chunker.feed(piece, remaining);
            hash.addData(reinterpret_cast<const char*>(piece), taken);
            piece += taken;
            remaining -= taken;
            if (chunker.chunkEnded())
                Receiver(hash.result(), chunker.chunkLength());
        }
    }
    if (!chunker.chunkEnded() && chunker.chunkLength() > 0)
        Receiver(hash.result(), chunker.chunkLength());
    return true;
}

} // namespace shared
