#pragma once

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace shared {

// The largest window a Zstandard container may ask for, 128 MiB: the writer never goes beyond
// it, even with long-distance matching, and the reader refuses any stream that does.
constexpr int kZstdWindowLogMax = 27;

// Decodes exactly one Zstandard frame that fills output[0..outputLength) to the byte: the frame
// must declare that size, produce it, and take up all of the input. Anything else, a truncated
// or oversized stream included, is a false result.
bool decodeZstd(const char* Input, std::size_t InputLength, char* Output,
                std::size_t& OutputLength);

// As decodeZstd, for a frame of ContentSize bytes handed to Sink a piece at a time: the decoder
// keeps only the frame's window, never the whole content. What Sink throws passes through.
bool decodeZstdPiecewise(const char* Input, std::size_t InputLength, std::uint64_t ContentSize,
                         const std::function<void(const char*, std::size_t)>& Sink);

// One frame with its content size at Level (1 to the library's highest); bLongDistance finds
// matches across the whole window of kZstdWindowLogMax.
QByteArray encodeZstd(const QByteArray& Data, int Level, bool bLongDistance);

// The library's highest level.
int zstdMaxLevel();

} // namespace shared
