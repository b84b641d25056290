#include "shared/filesystemhelper/lzmacompressedreadonlymemoryblob.h"

namespace shared {

QByteArray TLZMACompressedReadOnlyMemoryBlob::getData() const
{
    // Container decoding is not linked in yet: stored bytes are the lenient outcome for every
    // input.
    return TReadOnlyMemoryBlob::getData();
}

} // namespace shared
