#pragma once

#include <cstdint>

namespace containerfuzz {

// Declared sizes above this are not decoded: each input would allocate and clear that much, and
// a stream's own programs may run a number of steps proportional to it. The decoder's handling
// of huge sizes has unit tests of its own.
constexpr std::uint64_t kMaxDeclaredSize = 8 * 1024;

} // namespace containerfuzz
