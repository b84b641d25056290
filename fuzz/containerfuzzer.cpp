#include "fuzzlimits.h"

#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void failIf(bool broken, const char* what)
{
    if (broken) {
        std::fprintf(stderr, "container fuzzer: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<int>(size));
    shared::TContainerHeader header;
    if (shared::readContainerHeader(bytes, header) == shared::EContainerHeaderStatus::Valid &&
        header.m_nUnpackedSize > containerfuzz::kMaxDeclaredSize) {
        return -1;
    }

    bool strictFailed = false;
    QByteArray strict;
    try {
        strict = shared::decodeContainerStrict(bytes);
    } catch (const shared::TDecompressionError&) {
        strictFailed = true;
    }
    const QByteArray lenient = shared::decodeContainerLenient(bytes);

    // Both decodes must agree: the lenient one hands out the input exactly where the strict one
    // throws, and only a container may throw.
    failIf(strictFailed && lenient != bytes, "lenient decode altered an undecodable input");
    failIf(!strictFailed && lenient != strict, "strict and lenient decode disagree");
    failIf(strictFailed && !shared::isPackedContainer(bytes), "non-container failed to decode");
    failIf(!shared::isPackedContainer(bytes) && strict != bytes, "non-container was altered");
    return 0;
}
