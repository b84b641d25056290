#include "publisher/documents/packagedocumentwriter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <map>

namespace orvik::publisher {

namespace {

QString hex(const QByteArray& digest)
{
    return QString::fromLatin1(digest.toHex());
}

void addPieceKeys(QJsonObject& object, const TStoredPiece& piece)
{
    object.insert(QStringLiteral("url"), piece.RelativeUrl);
    object.insert(QStringLiteral("packedsize"), qint64(piece.PackedSize));
    object.insert(QStringLiteral("packedhash"), hex(piece.PackedHash));
    object.insert(QStringLiteral("unpackedsize"), qint64(piece.UnpackedSize));
    object.insert(QStringLiteral("unpackedhash"), hex(piece.UnpackedHash));
    object.insert(QStringLiteral("unpack"), piece.Unpack);
}

// Fills the "chunks" and "files" arrays. A chunk that several files (or one file several times)
// contain is listed once: the launcher fetches each distinct chunk once anyway.
void addFilesAndChunks(QJsonObject& document, const std::vector<TPublishedFile>& files,
                       int chunkIndexOffset)
{
    QJsonArray chunks;
    QJsonArray fileArray;
    std::map<QString, int> chunkIndexByUrl;
    for (const TPublishedFile& file : files) {
        QJsonObject entry;
        entry.insert(QStringLiteral("localfile"), file.RelativePath);
        entry.insert(QStringLiteral("unpackedsize"), qint64(file.Size));
        entry.insert(QStringLiteral("unpackedhash"), hex(file.Hash));
        entry.insert(QStringLiteral("executable"), file.Executable);
        if (file.Chunked) {
            QJsonArray indexes;
            for (const TStoredPiece& piece : file.Pieces) {
                auto found = chunkIndexByUrl.find(piece.RelativeUrl);
                if (found == chunkIndexByUrl.end()) {
                    QJsonObject chunk;
                    addPieceKeys(chunk, piece);
                    chunks.append(chunk);
                    found = chunkIndexByUrl
                                .emplace(piece.RelativeUrl, chunkIndexOffset + chunks.size() - 1)
                                .first;
                }
                indexes.append(found->second);
            }
            entry.insert(QStringLiteral("chunks"), indexes);
        } else {
            addPieceKeys(entry, file.Pieces.front());
        }
        fileArray.append(entry);
    }
    document.insert(QStringLiteral("chunks"), chunks);
    document.insert(QStringLiteral("files"), fileArray);
}

} // namespace

QByteArray writePackageDocument(const TPackageDocumentHeader& header,
                                const std::vector<TPublishedFile>& files)
{
    QJsonObject document;
    document.insert(QStringLiteral("version"), header.Version);
    document.insert(QStringLiteral("executable"), header.Executable);
    if (!header.Generation.isEmpty())
        document.insert(QStringLiteral("generation"), header.Generation);
    if (!header.Variant.isEmpty())
        document.insert(QStringLiteral("variant"), header.Variant);
    document.insert(QStringLiteral("parameters"), QJsonArray::fromStringList(header.Parameters));
    addFilesAndChunks(document, files, 0);
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

QByteArray writeAssetsDocument(const QString& version, const std::vector<TPublishedFile>& files,
                               int chunkIndexOffset)
{
    QJsonObject document;
    document.insert(QStringLiteral("version"), version);
    addFilesAndChunks(document, files, chunkIndexOffset);
    return QJsonDocument(document).toJson(QJsonDocument::Indented);
}

int countDocumentChunks(const std::vector<TPublishedFile>& files)
{
    QJsonObject document;
    addFilesAndChunks(document, files, 0);
    return document.value(QStringLiteral("chunks")).toArray().size();
}

} // namespace orvik::publisher
