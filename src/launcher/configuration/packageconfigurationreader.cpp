#include "launcher/configuration/packageconfigurationreader.h"

#include "launcher/package/documenturl.h"

#include <QDebug>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QVariant>

#include <algorithm>

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

TFileInPackage readFile(const QJsonObject& object, const QUrl& baseUrl)
{
    TFileInPackage file;
    file.LocalFile = object.value(QLatin1String("localfile")).toString();
    file.UnpackedHash = digest(object.value(QLatin1String("unpackedhash")));
    file.UnpackedSize = size(object.value(QLatin1String("unpackedsize")));
    file.Executable = object.value(QLatin1String("executable")).toBool(false);
    file.WholeFile = readChunk(object, baseUrl);
    for (const QJsonValue& index : object.value(QLatin1String("chunks")).toArray())
        file.ChunkIndexes.push_back(index.toInt());
    for (const QJsonValue& patch : object.value(QLatin1String("patches")).toArray())
        file.Patches.push_back(readPatch(patch.toObject(), baseUrl));
    return file;
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
        return;
    }
    QJsonDocument assets;
    if (!m_AssetData.isEmpty() && !parse(m_AssetData, assets)) {
        qCritical() << "JSON asset configuration file could not be parsed, using default package.";
        return;
    }

    const QJsonObject packageObject = package.object();
    m_Version = packageObject.value(QLatin1String("version")).toString();
    m_Executable = packageObject.value(QLatin1String("executable")).toString();
    m_Generation = generationFromText(packageObject.value(QLatin1String("generation")).toString());
    m_Variant = variantFromText(packageObject.value(QLatin1String("variant")).toString());
    readDocument(packageObject, m_PackageBaseUrl);
    for (const QJsonValue& parameter : packageObject.value(QLatin1String("parameters")).toArray())
        m_Parameters << parameter.toString();

    if (assets.isObject()) {
        const QJsonObject assetObject = assets.object();
        const QJsonValue version = assetObject.value(QLatin1String("version"));
        m_AssetsVersion = version.isDouble()
                              ? QString::number(static_cast<qint64>(version.toDouble()))
                              : version.toString();
        readDocument(assetObject, m_AssetBaseUrl);
    }

    std::stable_sort(
        m_Files.begin(), m_Files.end(),
        [](const TFileInPackage& a, const TFileInPackage& b) { return a.LocalFile < b.LocalFile; });
    m_bValid = true;
}

void TPackageConfigurationReader::readDocument(const QJsonObject& document, const QUrl& baseUrl)
{
    for (const QJsonValue& chunk : document.value(QLatin1String("chunks")).toArray())
        m_Chunks.push_back(readChunk(chunk.toObject(), baseUrl));
    for (const QJsonValue& file : document.value(QLatin1String("files")).toArray())
        m_Files.push_back(readFile(file.toObject(), baseUrl));
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
