#pragma once

#include <stdexcept>

namespace shared {

// Raised when data that announces itself as a compressed container does not decode.
class TDecompressionError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace shared
