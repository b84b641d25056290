#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <cstddef>
#include <functional>

class QIODevice;

namespace shared {

// Receives each chunk of a scan in stream order: its SHA-256 (raw bytes) and its length.
using TChunkReceiver = std::function<void(const QByteArray& Hash, quint64 Length)>;

// Default piece size of a scan: small enough that the rolling hash and the digest read each piece
// from the CPU cache, large enough that system calls do not count.
inline constexpr std::size_t kChunkScanReadSize = 1048576;

// Reads the device to its end, cuts the bytes into content-defined chunks and hashes each chunk
// once while streaming, so memory stays at one read piece whatever the file size. Returns false
// when a read failed; the chunks reported until then are correct.
bool scanContentDefinedChunks(QIODevice& device, const TChunkReceiver& receiver,
                              std::size_t readSize = kChunkScanReadSize);

} // namespace shared
