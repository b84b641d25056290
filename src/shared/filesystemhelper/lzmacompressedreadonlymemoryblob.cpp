#include "shared/filesystemhelper/lzmacompressedreadonlymemoryblob.h"

#include "shared/container/containerdecoder.h"

namespace shared {

QByteArray TLZMACompressedReadOnlyMemoryBlob::getData() const
{
    return decodeContainerLenient(TReadOnlyMemoryBlob::getData());
}

} // namespace shared
