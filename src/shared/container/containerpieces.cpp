#include "shared/container/containerpieces.h"

#include "shared/container/containercodec.h"
#include "shared/container/containerheader.h"
#include "shared/container/zstdcodec.h"
#include "shared/filesystemhelper/decompressionerror.h"

#include <QString>

#include <algorithm>

namespace shared {

namespace {

constexpr std::size_t kStoredPiece = std::size_t(1) << 20;

bool readHeader(const QByteArray& Bytes, TContainerHeader& Header)
{
    if (readContainerHeader(Bytes, Header) != EContainerHeaderStatus::Valid)
        return false;
    const auto available = std::uint64_t(Bytes.size()) - Header.m_nPayloadOffset;
    return Header.m_nPackedSize <= available;
}

bool isPiecewiseCodec(unsigned CodecId)
{
    return CodecId == unsigned(EContainerCodec::Stored) ||
           CodecId == unsigned(EContainerCodec::Zstd);
}

[[noreturn]] void fail(const QString& Reason)
{
    throw TDecompressionError(QStringLiteral("Invalid input data could not be decompressed: %1")
                                  .arg(Reason)
                                  .toStdString());
}

} // namespace

bool isPiecewiseDecodable(const QByteArray& Bytes)
{
    TContainerHeader header;
    return readHeader(Bytes, header) && isPiecewiseCodec(header.m_nCodecId);
}

void decodeContainerPiecewise(const QByteArray& Bytes, std::uint64_t ExpectedUnpackedSize,
                              const TContainerSink& Sink)
{
    TContainerHeader header;
    if (!readHeader(Bytes, header) || !isPiecewiseCodec(header.m_nCodecId))
        fail(QStringLiteral("not a container that decodes piece by piece"));
    // The document's size, not the header's, bounds what is produced.
    if (header.m_nUnpackedSize != ExpectedUnpackedSize)
        fail(QStringLiteral("the container declares %1 unpacked bytes, %2 are expected")
                 .arg(header.m_nUnpackedSize)
                 .arg(ExpectedUnpackedSize));
    const char* payload = Bytes.constData() + header.m_nPayloadOffset;
    const auto packedSize = std::size_t(header.m_nPackedSize);
    if (header.m_nCodecId == unsigned(EContainerCodec::Zstd)) {
        if (!decodeZstdPiecewise(payload, packedSize, ExpectedUnpackedSize, Sink))
            fail(QStringLiteral("the Zstandard frame does not decode"));
        return;
    }
    if (header.m_nPackedSize != ExpectedUnpackedSize)
        fail(QStringLiteral("the stored data is not of the declared size"));
    for (std::size_t done = 0; done < packedSize;) {
        const std::size_t piece = std::min(kStoredPiece, packedSize - done);
        Sink(payload + done, piece);
        done += piece;
    }
}

} // namespace shared
