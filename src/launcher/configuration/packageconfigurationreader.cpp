#include "launcher/configuration/packageconfigurationreader.h"

#include "launcher/logging/logging.h"
#include "launcher/package/documentpath.h"
#include "launcher/package/documenturl.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <limits>

namespace orvik::launcher {

namespace {

QByteArray digest(const QJsonValue& value)
{
    return QByteArray::fromHex(value.toString().toLatin1());
}

// Sizes may be JSON numbers or strings of decimal digits.
TFileSize size(const QJsonValue& value)
{
    return value.toVariant().toULongLong();
}

TChunkInPackage readChunk(const QJsonObject& object, const QUrl& baseUrl)
{
    TChunkInPackage chunk;
    chunk.Url = resolveDocumentUrl(object.value(QLatin1String("url")).toString(), baseUrl);
    chunk.PackedSize = size(object.value(QLatin1String("packedsize")));
    chunk.PackedHash = digest(object.value(QLatin1String("packedhash")));
    chunk.UnpackedSize = size(object.value(QLatin1String("unpackedsize")));
    chunk.UnpackedHash = digest(object.value(QLatin1String("unpackedhash")));
    chunk.Unpack = object.value(QLatin1String("unpack")).toBool(true);
    return chunk;
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

// A JSON value as the document writes it, for a refusal reason.
QString shown(const QJsonValue& value)
{
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
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

// Reads one file entry into File; returns why the entry is refused, or an empty text.
QString readFile(const QJsonValue& entry, const QUrl& baseUrl, size_t chunkCount,
                 TFileInPackage& file)
{
    const QJsonObject object = entry.toObject();
    const QJsonValue localFile = object.value(QLatin1String("localfile"));
    if (!localFile.isString())
        return QStringLiteral("file entry %1 has no \"localfile\" text").arg(shown(entry));
    file.LocalFile = localFile.toString();
    if (!namesFileInInstallation(file.LocalFile))
        return QStringLiteral("\"%1\" does not name a file").arg(file.LocalFile);
    file.UnpackedHash = digest(object.value(QLatin1String("unpackedhash")));
    file.UnpackedSize = size(object.value(QLatin1String("unpackedsize")));
    file.Executable = object.value(QLatin1String("executable")).toBool(false);
    file.WholeFile = readChunk(object, baseUrl);
    if (!isFetchableFromDocument(file.WholeFile.Url, baseUrl))
        return notFetchable(QLatin1Char('"') + file.LocalFile + QLatin1Char('"'),
                            file.WholeFile.Url);
    for (const QJsonValue& value : object.value(QLatin1String("chunks")).toArray()) {
        qint32 index = 0;
        if (!chunkIndex(value, chunkCount, index))
            return QStringLiteral("chunk index %1 of \"%2\" is outside the chunk list")
                .arg(shown(value), file.LocalFile);
        file.ChunkIndexes.push_back(index);
    }
    for (const QJsonValue& patch : object.value(QLatin1String("patches")).toArray())
        file.Patches.push_back(readPatch(patch.toObject(), baseUrl));
    return {};
}

bool parse(const QByteArray& data, QJsonDocument& document)
{
    QJsonParseError error{};
    document = QJsonDocument::fromJson(data, &error);
    return error.error == QJsonParseError::NoError;
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
{
    QJsonDocument package;
    if (!parse(m_PackageData, package)) {
        qCritical()
            << "JSON package configuration file could not be parsed, using default package.";
        m_InvalidReason = QStringLiteral("package document is not valid JSON");
        return;
    }
    QJsonDocument assets;
    if (!m_AssetData.isEmpty() && !parse(m_AssetData, assets)) {
        qCritical() << "JSON asset configuration file could not be parsed, using default package.";
        m_InvalidReason = QStringLiteral("assets document is not valid JSON");
        return;
    }

    const QString reason = readDocuments(package, assets);
    if (!reason.isEmpty()) {
        refuse(reason);
        return;
    }
    std::stable_sort(
        m_Files.begin(), m_Files.end(),
        [](const TFileInPackage& a, const TFileInPackage& b) { return a.LocalFile < b.LocalFile; });
    m_bValid = true;
}

QString TPackageConfigurationReader::readDocuments(const QJsonDocument& Package,
                                                   const QJsonDocument& Assets)
{
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
    QString reason = readChunks(packageObject, m_PackageBaseUrl);
    if (reason.isEmpty())
        reason = readChunks(assetObject, m_AssetBaseUrl);
    if (reason.isEmpty())
        reason = readFiles(packageObject, m_PackageBaseUrl);
    if (reason.isEmpty())
        reason = readFiles(assetObject, m_AssetBaseUrl);
    return reason;
}

QString TPackageConfigurationReader::readChunks(const QJsonObject& Document, const QUrl& BaseUrl)
{
    for (const QJsonValue& chunk : Document.value(QLatin1String("chunks")).toArray()) {
        m_Chunks.push_back(readChunk(chunk.toObject(), BaseUrl));
        if (!isFetchableFromDocument(m_Chunks.back().Url, BaseUrl))
            return notFetchable(QStringLiteral("chunk %1").arg(m_Chunks.size() - 1),
                                m_Chunks.back().Url);
    }
    return {};
}

QString TPackageConfigurationReader::readFiles(const QJsonObject& Document, const QUrl& BaseUrl)
{
    for (const QJsonValue& entry : Document.value(QLatin1String("files")).toArray()) {
        TFileInPackage file;
        const QString reason = readFile(entry, BaseUrl, m_Chunks.size(), file);
        if (!reason.isEmpty())
            return reason;
        m_Files.push_back(std::move(file));
    }
    return {};
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
    m_Chunks.clear();
    m_Files.clear();
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
