#include "shared/container/containerdecoder.h"

#include "shared/container/containercodec.h"
#include "shared/container/containerheader.h"
#include "shared/container/deflatecodec.h"
#include "shared/container/lzipcodec.h"
#include "shared/container/lzmacodec.h"
#include "shared/container/zpaqcodec.h"
#include "shared/container/zstdcodec.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include <QString>

#include <cstring>
#include <limits>
#include <new>

namespace shared {

namespace {

constexpr unsigned kHighestDispatchedCodecId = 21;
const char kDecodingFailed[] = "Invalid input data could not be decompressed";

// The largest output a QByteArray can hold, with room for its bookkeeping.
constexpr std::uint64_t kMaxOutputSize = std::numeric_limits<int>::max() - 64;

enum class EDecodeOutcome {
    NotContainer,
    Decoded,
    Failed,
    UnexpectedSize,
    NoDecoder,
};

bool hasDecoder(unsigned codecId)
{
    switch (static_cast<EContainerCodec>(codecId)) {
    case EContainerCodec::Stored:
    case EContainerCodec::Deflate:
    case EContainerCodec::Lzip:
    case EContainerCodec::Lzma:
    case EContainerCodec::LzmaAlias:
    case EContainerCodec::Zpaq:
    case EContainerCodec::Zstd:
        return true;
    }
    return false;
}

// On success outputLength is the number of bytes the codec produced.
bool dispatch(unsigned codecId, const char* payload, std::size_t packedSize, char* output,
              std::size_t& outputLength)
{
    switch (static_cast<EContainerCodec>(codecId)) {
    case EContainerCodec::Stored:
        if (packedSize > outputLength) {
            return false;
        }
        std::memcpy(output, payload, packedSize);
        outputLength = packedSize;
        return true;
    case EContainerCodec::Deflate:
        return inflateRawDeflate(payload, packedSize, output, outputLength);
    case EContainerCodec::Lzip:
        return decodeLzipMember(payload, packedSize, output, outputLength);
    case EContainerCodec::Lzma:
    case EContainerCodec::LzmaAlias:
        return decodeLzmaAlone(payload, packedSize, output, outputLength);
    case EContainerCodec::Zpaq:
        return decodeZpaq(payload, packedSize, output, outputLength);
    case EContainerCodec::Zstd:
        return decodeZstd(payload, packedSize, output, outputLength);
    }
    return false;
}

// expectedUnpackedSize null: whatever the header declares, within kMaxOutputSize.
EDecodeOutcome decode(const QByteArray& bytes, QByteArray& decoded, TContainerHeader& header,
                      const std::uint64_t* expectedUnpackedSize)
{
    switch (readContainerHeader(bytes, header)) {
    case EContainerHeaderStatus::NotContainer:
        return EDecodeOutcome::NotContainer;
    case EContainerHeaderStatus::Truncated:
        return EDecodeOutcome::Failed;
    case EContainerHeaderStatus::Valid:
        break;
    }
    // The output is allocated at the declared size: a header that lies would otherwise cost up to
    // kMaxOutputSize for a body of a few bytes, on every attempt.
    if (expectedUnpackedSize && header.m_nUnpackedSize != *expectedUnpackedSize) {
        return EDecodeOutcome::UnexpectedSize;
    }
    // A packed size that runs past the data would have the codecs read beyond the buffer.
    const auto available = static_cast<std::uint64_t>(bytes.size()) - header.m_nPayloadOffset;
    if (header.m_nPackedSize > available || header.m_nUnpackedSize == 0 ||
        header.m_nUnpackedSize > kMaxOutputSize) {
        return EDecodeOutcome::Failed;
    }
    // Named apart from corrupt data: a studio that packs with a codec this launcher predates
    // must find the codec in the log, not only that some data did not decode.
    if (!hasDecoder(header.m_nCodecId)) {
        return EDecodeOutcome::NoDecoder;
    }
    try {
        // Left uninitialised: the decoders write or clear every byte of the result, and clearing
        // it all first would cost a pass over the output.
        decoded = QByteArray(static_cast<int>(header.m_nUnpackedSize), Qt::Uninitialized);
    } catch (const std::bad_alloc&) {
        return EDecodeOutcome::Failed;
    }
    std::uint64_t length = header.m_nUnpackedSize;
    if (!unpackContainer(header.m_nCodecId, bytes.constData() + header.m_nPayloadOffset,
                         header.m_nPackedSize, decoded.data(), length)) {
        decoded.clear();
        return EDecodeOutcome::Failed;
    }
    decoded.resize(static_cast<int>(length));
    return EDecodeOutcome::Decoded;
}

} // namespace

bool unpackContainer(unsigned codecId, const char* payload, std::uint64_t packedSize, char* output,
                     std::uint64_t& outputLength)
{
    if (packedSize == 0 || outputLength == 0 || codecId > kHighestDispatchedCodecId) {
        return false;
    }
    constexpr std::uint64_t addressable = std::numeric_limits<std::size_t>::max();
    if (packedSize > addressable || outputLength > addressable) {
        return false;
    }
    const auto capacity = static_cast<std::size_t>(outputLength);
    std::size_t produced = capacity;
    try {
        if (!dispatch(codecId, payload, static_cast<std::size_t>(packedSize), output, produced)) {
            return false;
        }
    } catch (const std::exception&) {
        // A codec that runs out of memory has failed like one that meets corrupt data.
        return false;
    }
    switch (static_cast<EContainerCodec>(codecId)) {
    case EContainerCodec::Deflate:
    case EContainerCodec::Lzip:
    case EContainerCodec::Zpaq:
        // The declared size is the result's size, whatever the stream held.
        std::memset(output + produced, 0, capacity - produced);
        outputLength = capacity;
        break;
    default:
        outputLength = produced;
        break;
    }
    return true;
}

namespace {

QByteArray decodeStrict(const QByteArray& bytes, const std::uint64_t* expectedUnpackedSize)
{
    QByteArray decoded;
    TContainerHeader header;
    switch (decode(bytes, decoded, header, expectedUnpackedSize)) {
    case EDecodeOutcome::NotContainer:
        return bytes;
    case EDecodeOutcome::Decoded:
        return decoded;
    case EDecodeOutcome::Failed:
        break;
    case EDecodeOutcome::UnexpectedSize:
        throw TDecompressionError(
            QStringLiteral("%1: the container declares %2 unpacked bytes, %3 are expected")
                .arg(QLatin1String(kDecodingFailed))
                .arg(header.m_nUnpackedSize)
                .arg(*expectedUnpackedSize)
                .toStdString());
    case EDecodeOutcome::NoDecoder:
        throw TDecompressionError(QStringLiteral("%1: no decoder for codec %2")
                                      .arg(QLatin1String(kDecodingFailed))
                                      .arg(header.m_nCodecId)
                                      .toStdString());
    }
    throw TDecompressionError(kDecodingFailed);
}

} // namespace

QByteArray decodeContainerStrict(const QByteArray& bytes)
{
    return decodeStrict(bytes, nullptr);
}

QByteArray decodeContainerStrict(const QByteArray& bytes, std::uint64_t expectedUnpackedSize)
{
    return decodeStrict(bytes, &expectedUnpackedSize);
}

QByteArray decodeContainerLenient(const QByteArray& bytes)
{
    QByteArray decoded;
    TContainerHeader header;
    if (decode(bytes, decoded, header, nullptr) == EDecodeOutcome::Decoded) {
        return decoded;
    }
    return bytes;
}

} // namespace shared
