#include "shared/chunker/chunkscanner.h"

#include "shared/chunker/contentdefinedchunker.h"
#include "shared/hash/sha256.h"

#include <QIODevice>

#include <algorithm>
#include <vector>

namespace shared {

bool scanContentDefinedChunks(QIODevice& device, const TChunkReceiver& receiver,
                              std::size_t readSize)
{
    std::vector<char> buffer(std::max<std::size_t>(readSize, 1));
    TContentDefinedChunker chunker;
    TSha256 hash;
    for (;;) {
        const qint64 read = device.read(buffer.data(), qint64(buffer.size()));
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
                receiver(hash.result(), chunker.chunkLength());
        }
    }
    if (!chunker.chunkEnded() && chunker.chunkLength() > 0)
        receiver(hash.result(), chunker.chunkLength());
    return true;
}

} // namespace shared
