#pragma once

#include "shared/filesystemhelper/readonlymemoryblob.h"

namespace shared {

// A blob whose file may hold a compressed container; anything that does not decode is
// handed out as it is stored.
class TLZMACompressedReadOnlyMemoryBlob : public TReadOnlyMemoryBlob
{
public:
    using TReadOnlyMemoryBlob::TReadOnlyMemoryBlob;

    QByteArray getData() const override;
};

} // namespace shared
