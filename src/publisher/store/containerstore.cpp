#include "publisher/store/containerstore.h"

#include "publisher/publish/codecrules.h"
#include "publisher/store/atomicfile.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerwriter.h"
#include "shared/hash/sha256.h"

#include <QFile>

#include <exception>

namespace orvik::publisher {

namespace {

// An existing container is kept only when it still decodes to the wanted bytes; anything else
// (a torn copy, a manual edit) is replaced.
bool holdsContent(const QByteArray& container, const QByteArray& unpackedHash,
                  TFileSize unpackedSize)
{
    try {
        const QByteArray decoded = ::shared::decodeContainerStrict(container);
        return TFileSize(decoded.size()) == unpackedSize &&
               ::shared::sha256(decoded) == unpackedHash;
    } catch (const std::exception&) {
        return false;
    }
}

QByteArray readExisting(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace

TContainerStore::TContainerStore(const QString& rootDirectory) : m_RootDirectory(rootDirectory) {}

QString TContainerStore::relativeUrlFor(const QByteArray& unpackedHash,
                                        ::shared::EContainerCodec codec, bool empty)
{
    const QString hex = QString::fromLatin1(unpackedHash.toHex());
    // Nothing compresses to a decodable container, so empty files travel as they are.
    const QString folder = empty ? QStringLiteral("raw") : codecName(codec);
    return QStringLiteral("data/%1/%2/%3").arg(folder, hex.left(2), hex);
}

TStoredPiece TContainerStore::store(const QByteArray& unpacked,
                                    const ::shared::TContainerSettings& Codec) const
{
    TStoredPiece piece;
    piece.UnpackedHash = ::shared::sha256(unpacked);
    piece.UnpackedSize = TFileSize(unpacked.size());
    piece.Unpack = !unpacked.isEmpty();
    piece.RelativeUrl = relativeUrlFor(piece.UnpackedHash, Codec.m_eCodec, unpacked.isEmpty());
    const QString path = m_RootDirectory + QLatin1Char('/') + piece.RelativeUrl;

    QByteArray packed = readExisting(path);
    const bool reusable = unpacked.isEmpty()
                              ? QFile::exists(path) && packed.isEmpty()
                              : holdsContent(packed, piece.UnpackedHash, piece.UnpackedSize);
    if (!reusable) {
        packed = unpacked.isEmpty() ? QByteArray() : ::shared::makeContainer(unpacked, Codec);
        writeFileAtomically(path, packed, EDurability::Cached);
        piece.Written = true;
    }
    piece.PackedSize = TFileSize(packed.size());
    piece.PackedHash = ::shared::sha256(packed);
    return piece;
}

} // namespace orvik::publisher
