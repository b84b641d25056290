#include "launcher/configuration/packageconfigurationreader.h"

#include "launcher/configuration/piecewisejsonreader.h"
#include "launcher/logging/logging.h"
#include "launcher/package/documentpath.h"
#include "launcher/package/documenturl.h"
#include "shared/hash/sha256.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QSet>
#include <QVariant>

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>

namespace orvik::launcher {

namespace {

QByteArray digest(const QJsonValue& value)
{
    return QByteArray::fromHex(value.toString().toLatin1());
}

// 4 EiB: beyond any disk a player has, and low enough that sums of a few such totals still fit
// in the 64 bits of a TFileSize and in the signed sizes of Qt and of the file system.
constexpr TFileSize kLargestSize = TFileSize(1) << 62;

// Adds Size to Total unless the sum would pass kLargestSize; both stay at most kLargestSize, so
// the check itself cannot wrap.
bool addWithinLimit(TFileSize& Total, TFileSize Size)
{
    if (Size > kLargestSize - Total)
        return false;
    Total += Size;
    return true;
}

// A JSON value as the document writes it, for a refusal reason.
QString shown(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

// Sizes may be JSON numbers or strings of decimal digits; other values read as 0, as before.
// False for a size no file system can hold: -1 read as unsigned is 2^64 - 1, and a few such
// sizes add up to a handful of bytes that any disk has room for.
bool readSize(const QJsonValue& value, TFileSize& size)
{
    size = 0;
    if (value.isDouble() && !(value.toDouble() >= 0 && value.toDouble() <= double(kLargestSize)))
        return false;
    bool converted = false;
    const TFileSize read = value.toVariant().toULongLong(&converted);
    if (!converted) {
        const QString text = value.toString();
        const bool digitsOnly = !text.isEmpty() && std::all_of(text.begin(), text.end(),
                                                               [](QChar c) { return c.isDigit(); });
        return !digitsOnly; // past 2^64
    }
    size = read;
    return size <= kLargestSize;
}

QString tooLarge(const QString& what, const QJsonValue& value)
{
    return QStringLiteral("%1 has the size %2, more than a file system can hold")
        .arg(what, shown(value));
}

// Reads one piece into Chunk; returns why it is refused, or an empty text. What names the entry
// in that text.
QString readChunk(const QJsonObject& object, const QUrl& baseUrl, const QString& what,
                  TChunkInPackage& chunk)
{
    chunk.Url = resolveDocumentUrl(object.value(QLatin1String("url")).toString(), baseUrl);
    const QJsonValue packedSize = object.value(QLatin1String("packedsize"));
    if (!readSize(packedSize, chunk.PackedSize))
        return tooLarge(what, packedSize);
    chunk.PackedHash = digest(object.value(QLatin1String("packedhash")));
    const QJsonValue unpackedSize = object.value(QLatin1String("unpackedsize"));
    if (!readSize(unpackedSize, chunk.UnpackedSize))
        return tooLarge(what, unpackedSize);
    chunk.UnpackedHash = digest(object.value(QLatin1String("unpackedhash")));
    // A stored piece has one digest for both: held once, a document of many small files keeps
    // one array less per entry.
    if (chunk.PackedHash == chunk.UnpackedHash)
        chunk.PackedHash = chunk.UnpackedHash;
    chunk.Unpack = object.value(QLatin1String("unpack")).toBool(true);
    return {};
}

// Linux file systems take names of up to NAME_MAX bytes and paths below PATH_MAX. A longer one
// failed only when the file was written, as a saving failure that sent the player to free disk
// space.
QString tooLongForFileSystems(const QString& localFile)
{
    const QByteArray path = QFile::encodeName(localFile);
    if (path.size() >= PATH_MAX)
        return QStringLiteral("\"%1...\" is a path of %2 bytes, longer than a file system allows")
            .arg(localFile.left(80))
            .arg(path.size());
    for (const QByteArray& name : path.split('/'))
        if (name.size() > NAME_MAX)
            return QStringLiteral(
                       "\"%1\" has a name of %2 bytes, longer than a file system allows (%3)")
                .arg(localFile)
                .arg(name.size())
                .arg(NAME_MAX);
    return {};
}

TFilePatch readPatch(const QJsonObject& object, const QUrl& baseUrl)
{
    TFilePatch patch;
    patch.Url = resolveDocumentUrl(object.value(QLatin1String("url")).toString(), baseUrl);
    patch.FromVersion = QString::number(object.value(QLatin1String("fromversion")).toInt());
    patch.ToVersion = QString::number(object.value(QLatin1String("toversion")).toInt());
    patch.Size = object.value(QLatin1String("size")).toInt();
    return patch;
}

// Only whole numbers inside the chunk list: toInt() reads 2147483648 or 1e20 as chunk 0, and the
// file would then be assembled from, or found installed as, the wrong data.
bool chunkIndex(const QJsonValue& value, size_t chunkCount, qint32& index)
{
    if (!value.isDouble())
        return false;
    const double number = value.toDouble();
    if (!(number >= 0) || number >= double(chunkCount) ||
        number > double(std::numeric_limits<qint32>::max()) || number != std::floor(number))
        return false;
    index = qint32(number);
    return true;
}

QString notFetchable(const QString& what, const QUrl& url)
{
    return QStringLiteral("%1 has the URL \"%2\", which is neither http nor https")
        .arg(what, url.toDisplayString());
}

const QString kSumTooLarge =
    QStringLiteral("the sizes in the documents add up to more than a file system can hold");

// The sizes a chunk adds to the documents' total: it travels and is written.
bool addPiece(TFileSize& Total, const TChunkInPackage& Piece)
{
    return addWithinLimit(Total, Piece.PackedSize) && addWithinLimit(Total, Piece.UnpackedSize);
}

// Reads the chunk list of one file entry; returns why it is refused, or an empty text.
QString readChunkIndexes(const QJsonValue& indexes, const TChunkInPackageVector& chunks,
                         TFileInPackage& file)
{
    // Chunks may repeat: their sum is the file's length, and each offset inside it must fit.
    TFileSize length = 0;
    for (const QJsonValue& value : indexes.toArray()) {
        qint32 index = 0;
        if (!chunkIndex(value, chunks.size(), index))
            return QStringLiteral("chunk index %1 of \"%2\" is outside the chunk list")
                .arg(shown(value), file.LocalFile);
        if (!addWithinLimit(length, chunks[size_t(index)].UnpackedSize))
            return QStringLiteral("the chunks of \"%1\" add up to more than a file system can hold")
                .arg(file.LocalFile);
        file.ChunkIndexes.push_back(index);
    }
    return {};
}

// Reads one file entry into File and adds its sizes to Total; returns why the entry is refused,
// or an empty text.
QString readFile(const QJsonValue& entry, const QUrl& baseUrl, const TChunkInPackageVector& chunks,
                 TFileSize& total, TFileInPackage& file)
{
    const QJsonObject object = entry.toObject();
    const QJsonValue localFile = object.value(QLatin1String("localfile"));
    if (!localFile.isString())
        return QStringLiteral("file entry %1 has no \"localfile\" text").arg(shown(entry));
    file.LocalFile = localFile.toString();
    if (!namesFileInInstallation(file.LocalFile))
        return QStringLiteral("\"%1\" does not name a file").arg(file.LocalFile);
    QString reason = tooLongForFileSystems(file.LocalFile);
    if (!reason.isEmpty())
        return reason;
    const QString what = QLatin1Char('"') + file.LocalFile + QLatin1Char('"');
    file.UnpackedHash = digest(object.value(QLatin1String("unpackedhash")));
    const QJsonValue size = object.value(QLatin1String("unpackedsize"));
    if (!readSize(size, file.UnpackedSize))
        return tooLarge(what, size);
    file.Executable = object.value(QLatin1String("executable")).toBool(false);
    reason = readChunk(object, baseUrl, what, file.WholeFile);
    if (!reason.isEmpty())
        return reason;
    if (!isFetchableFromDocument(file.WholeFile.Url, baseUrl))
        return notFetchable(what, file.WholeFile.Url);
    if (file.WholeFile.UnpackedHash == file.UnpackedHash)
        file.UnpackedHash = file.WholeFile.UnpackedHash;
    // The whole-file piece shares its "unpackedsize" with the file: counted once.
    if (!addWithinLimit(total, file.UnpackedSize) ||
        !addWithinLimit(total, file.WholeFile.PackedSize))
        return kSumTooLarge;
    reason = readChunkIndexes(object.value(QLatin1String("chunks")), chunks, file);
    if (!reason.isEmpty())
        return reason;
    for (const QJsonValue& patch : object.value(QLatin1String("patches")).toArray())
        file.Patches.push_back(readPatch(patch.toObject(), baseUrl));
    return {};
}

// The lists of files and chunks are read a piece at a time: they are nearly all of a document.
TPiecewiseJsonReader parse(const QByteArray& data)
{
    return TPiecewiseJsonReader(data, {QLatin1String("files"), QLatin1String("chunks")});
}

EPackageGeneration generationFromText(const QString& text)
{
    if (text == QLatin1String("first"))
        return EPackageGeneration::FirstGeneration;
    if (text == QLatin1String("second"))
        return EPackageGeneration::SecondGeneration;
    return EPackageGeneration::UnknownGeneration;
}

EPackageVariant variantFromText(const QString& text)
{
    if (text == QLatin1String("regular"))
        return EPackageVariant::Regular;
    if (text == QLatin1String("preview"))
        return EPackageVariant::Preview;
    if (text == QLatin1String("beta"))
        return EPackageVariant::Beta;
    if (text == QLatin1String("test"))
        return EPackageVariant::Test;
    return EPackageVariant::UnknownVariant;
}

} // namespace

TPackageConfigurationReader::TPackageConfigurationReader(QByteArray&& PackageData,
                                                         QByteArray&& AssetData,
                                                         const QUrl& PackageBaseUrl,
                                                         const QUrl& AssetBaseUrl)
    : m_PackageBaseUrl(PackageBaseUrl)
    , m_AssetBaseUrl(AssetBaseUrl)
    , m_PackageData(std::move(PackageData))
    , m_AssetData(std::move(AssetData))
    , m_bHasAssetData(!m_AssetData.isEmpty())
{
    const TPiecewiseJsonReader package = parse(m_PackageData);
    if (!package.isValid()) {
        qCritical()
            << "JSON package configuration file could not be parsed, using default package.";
        m_InvalidReason = QStringLiteral("package document is not valid JSON");
        return;
    }
    TPiecewiseJsonReader assets;
    if (!m_AssetData.isEmpty())
        assets = parse(m_AssetData);
    if (!m_AssetData.isEmpty() && !assets.isValid()) {
        qCritical() << "JSON asset configuration file could not be parsed, using default package.";
        m_InvalidReason = QStringLiteral("assets document is not valid JSON");
        return;
    }

    const QString reason = readDocuments(package, assets);
    if (!reason.isEmpty()) {
        refuse(reason);
        return;
    }
    m_bValid = true;
}

TPackageConfigurationReader
TPackageConfigurationReader::withOnlyFiles(const QStringList& LocalFiles) const
{
    const QSet<QString> wanted(LocalFiles.begin(), LocalFiles.end());
    TRecords kept;
    kept.Chunks = records().Chunks;
    for (const TFileInPackage& file : records().Files)
        if (wanted.contains(file.LocalFile))
            kept.Files.push_back(file);
    TPackageConfigurationReader copy = *this;
    copy.m_pRecords = std::make_shared<const TRecords>(std::move(kept));
    return copy;
}

const TPackageConfigurationReader::TRecords& TPackageConfigurationReader::records() const
{
    static const TRecords kNone;
    return m_pRecords ? *m_pRecords : kNone;
}

QString TPackageConfigurationReader::readDocuments(const TPiecewiseJsonReader& PackageDocument,
                                                   const TPiecewiseJsonReader& AssetsDocument)
{
    const QJsonDocument& Package = PackageDocument.document();
    const QJsonDocument& Assets = AssetsDocument.document();
    // Without its file list a document would plan the installation as empty, and planning would
    // delete every installed file.
    if (!Package.isObject())
        return QStringLiteral("package document is not a JSON object");
    const QJsonObject packageObject = Package.object();
    if (!packageObject.value(QLatin1String("files")).isArray())
        return QStringLiteral("package document has no \"files\" array");
    const bool hasAssets = !m_AssetData.isEmpty();
    if (hasAssets && !Assets.isObject())
        return QStringLiteral("assets document is not a JSON object");
    const QJsonObject assetObject = Assets.object();
    if (assetObject.contains(QLatin1String("files")) &&
        !assetObject.value(QLatin1String("files")).isArray())
        return QStringLiteral("assets document has a \"files\" that is not an array");

    m_Version = packageObject.value(QLatin1String("version")).toString();
    m_Executable = packageObject.value(QLatin1String("executable")).toString();
    m_Generation = generationFromText(packageObject.value(QLatin1String("generation")).toString());
    m_Variant = variantFromText(packageObject.value(QLatin1String("variant")).toString());
    for (const QJsonValue& parameter : packageObject.value(QLatin1String("parameters")).toArray())
        m_Parameters << parameter.toString();
    if (hasAssets) {
        const QJsonValue version = assetObject.value(QLatin1String("version"));
        m_AssetsVersion = version.isDouble()
                              ? QString::number(static_cast<qint64>(version.toDouble()))
                              : version.toString();
    }

    // Files of either document may name chunks of both: the whole chunk list comes first.
    // Everything both documents describe stays within what a file system can hold, so no sum
    // the planning, the disk-space check or the progress makes of it can wrap.
    TFileSize total = 0;
    auto records = std::make_shared<TRecords>();
    QString reason = readChunks(PackageDocument, m_PackageBaseUrl, total, *records);
    if (reason.isEmpty() && hasAssets)
        reason = readChunks(AssetsDocument, m_AssetBaseUrl, total, *records);
    if (reason.isEmpty())
        reason = readFiles(PackageDocument, m_PackageBaseUrl, total, *records);
    if (reason.isEmpty() && hasAssets)
        reason = readFiles(AssetsDocument, m_AssetBaseUrl, total, *records);
    if (!reason.isEmpty())
        return reason;
    std::stable_sort(
        records->Files.begin(), records->Files.end(),
        [](const TFileInPackage& a, const TFileInPackage& b) { return a.LocalFile < b.LocalFile; });
    m_pRecords = std::move(records);
    return QString();
}

QString TPackageConfigurationReader::readChunks(const TPiecewiseJsonReader& Document,
                                                const QUrl& BaseUrl, TFileSize& Total,
                                                TRecords& Records)
{
    const QString key = QStringLiteral("chunks");
    TChunkInPackageVector& chunks = Records.Chunks;
    chunks.reserve(chunks.size() + size_t(Document.arraySize(key)));
    QString reason;
    Document.forEachElement(key, [&](const QJsonValue& value) {
        const QString what = QStringLiteral("chunk %1").arg(chunks.size());
        TChunkInPackage chunk;
        reason = readChunk(value.toObject(), BaseUrl, what, chunk);
        if (reason.isEmpty() && !isFetchableFromDocument(chunk.Url, BaseUrl))
            reason = notFetchable(what, chunk.Url);
        if (reason.isEmpty() && !addPiece(Total, chunk))
            reason = kSumTooLarge;
        if (!reason.isEmpty())
            return false;
        chunks.push_back(std::move(chunk));
        return true;
    });
    return reason;
}

QString TPackageConfigurationReader::readFiles(const TPiecewiseJsonReader& Document,
                                               const QUrl& BaseUrl, TFileSize& Total,
                                               TRecords& Records)
{
    const QString key = QStringLiteral("files");
    TFileInPackageVector& files = Records.Files;
    files.reserve(files.size() + size_t(Document.arraySize(key)));
    QString reason;
    Document.forEachElement(key, [&](const QJsonValue& entry) {
        TFileInPackage file;
        reason = readFile(entry, BaseUrl, Records.Chunks, Total, file);
        if (!reason.isEmpty())
            return false;
        files.push_back(std::move(file));
        return true;
    });
    return reason;
}

void TPackageConfigurationReader::releaseDocumentData()
{
    if (isDocumentDataReleased())
        return;
    m_PackageDigest = ::shared::sha256(m_PackageData);
    m_AssetDigest = ::shared::sha256(m_AssetData);
    m_PackageData = QByteArray();
    m_AssetData = QByteArray();
}

void TPackageConfigurationReader::refuse(const QString& Reason)
{
    qCritical().noquote() << "Package configuration refused:" << Reason << threadSuffix;
    m_InvalidReason = Reason;
    m_Version.clear();
    m_AssetsVersion.clear();
    m_Generation = EPackageGeneration::UnknownGeneration;
    m_Variant = EPackageVariant::UnknownVariant;
    m_Executable.clear();
    m_Parameters.clear();
    m_pRecords.reset();
}

QString TPackageConfigurationReader::versionLabel() const
{
    const auto orQuestionMark = [](const QString& version) {
        return version.isEmpty() ? QStringLiteral("?") : version;
    };
    return QStringLiteral("P%1 A%2").arg(orQuestionMark(m_Version),
                                         orQuestionMark(m_AssetsVersion));
}

} // namespace orvik::launcher
