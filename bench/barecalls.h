#pragma once

#include <cstddef>

// Each codec's payload decoded by a single call of its library into a buffer of the known size,
// without the container's framing or checks: the yardstick of the benchmark.
namespace barecalls {

bool inflate(const char* input, std::size_t inputLength, char* output, std::size_t capacity);
bool lzipDecode(const char* input, std::size_t inputLength, char* output, std::size_t capacity);
bool lzmaAloneDecode(const char* input, std::size_t inputLength, char* output,
                     std::size_t capacity);
bool zpaqDecode(const char* input, std::size_t inputLength, char* output, std::size_t capacity);

} // namespace barecalls
