#pragma once

#include "shared/chunker/chunkscanner.h"

namespace shared {

// The two ways scanContentDefinedChunks works, both giving the same chunks and digests. The one
// pass runs the SHA-256 rounds between the rolling hash's steps over each 64 bytes, so neither
// waits on the other; it needs the processor's SHA extensions (sha256RoundsAvailable()). The two
// steps run the rolling hash and then OpenSSL's SHA-256 over each read piece.
bool scanInOnePass(QIODevice& Device, const TChunkReceiver& Receiver, std::size_t ReadSize);
bool scanInTwoSteps(QIODevice& Device, const TChunkReceiver& Receiver, std::size_t ReadSize);

} // namespace shared
