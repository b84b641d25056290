#include "publisher/verify/treeverifier.h"

#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/package/package.h"
#include "launcher/package/packagebuild.h"
#include "publisher/documents/documentloader.h"
#include "publisher/verify/trustcheck.h"
#include "shared/container/containerdecoder.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/hash/sha256.h"
#include "shared/signature/documentsignature.h"

#include <QDateTime>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <exception>
#include <memory>
#include <set>

namespace orvik::publisher {

using launcher::TChunkInPackage;
using launcher::TFileInPackage;

namespace {

// A document's file path must stay inside the installation it is written into.
bool staysInside(const QString& relativePath)
{
    static const QDir installation(QStringLiteral("/installation"));
    if (relativePath.isEmpty() || QDir::isAbsolutePath(relativePath))
        return false;
    try {
        ::shared::TFileSystemHelper helper;
        return helper.resolvePathInsideDirectory(installation, relativePath) ==
               QDir::cleanPath(installation.filePath(relativePath));
    } catch (const std::exception&) {
        return false;
    }
}

} // namespace

TTreeVerifier::TTreeVerifier(const QString& rootDirectory)
    : m_Root(QFileInfo(rootDirectory).absoluteFilePath())
{}

void TTreeVerifier::verifyBuild(const QString& packageDocument, const QString& assetsDocument)
{
    const QString packagePath = QFileInfo(packageDocument).absoluteFilePath();
    const QString assetsPath =
        assetsDocument.isEmpty() ? QString() : QFileInfo(assetsDocument).absoluteFilePath();
    if (!m_CheckedBuilds.insert({packagePath, assetsPath}).second)
        return;
    m_CoveredDocuments.insert(packagePath);
    m_CoveredDocuments.insert(assetsPath);
    checkSignature(packagePath);
    if (!assetsPath.isEmpty())
        checkSignature(assetsPath);
    launcher::TPackageConfigurationReader reader;
    try {
        reader = loadBuildDocuments(packageDocument, assetsDocument);
    } catch (const std::exception& error) {
        addFault(packageDocument, QString::fromUtf8(error.what()));
        return;
    }
    m_DocumentsChecked += assetsDocument.isEmpty() ? 1 : 2;
    std::set<QString> assetFiles;
    const QJsonArray assetEntries = QJsonDocument::fromJson(reader.getAssetData())
                                        .object()
                                        .value(QLatin1String("files"))
                                        .toArray();
    for (const QJsonValue& entry : assetEntries)
        assetFiles.insert(entry.toObject().value(QLatin1String("localfile")).toString());
    verifyFiles(reader, packageDocument, assetsDocument, assetFiles);

    // Chunks that no file uses still cost a client nothing, but a broken one is still a fault.
    for (const TChunkInPackage& chunk : reader.getChunks()) {
        QByteArray ignored;
        loadPiece(chunk, packageDocument, ignored);
    }
}

void TTreeVerifier::verifyLauncherConfiguration(const QString& configurationDocument)
{
    std::unique_ptr<launcher::TLauncherConfigurationReader> reader;
    try {
        reader = std::make_unique<launcher::TLauncherConfigurationReader>(
            readDocument(configurationDocument), directoryUrlOf(configurationDocument));
    } catch (const std::exception& error) {
        addFault(configurationDocument, QString::fromUtf8(error.what()));
        return;
    }
    ++m_DocumentsChecked;
    checkSignature(QFileInfo(configurationDocument).absoluteFilePath());
    // With the key, the binding counts as much as the signature: launchers check both.
    if (!m_PublicKey.isEmpty()) {
        for (TFault& fault :
             checkTrust(*reader, configurationDocument, QDateTime::currentDateTimeUtc()))
            addFault(fault.Path, fault.Reason);
        checkPlaceOf(*reader, configurationDocument);
    }
    std::vector<std::shared_ptr<launcher::TPackage>> packages = reader->getPackages();
    if (reader->getLauncherPackage())
        packages.push_back(reader->getLauncherPackage());
    for (const auto& package : packages) {
        for (const auto& build : package->getBuilds()) {
            const QString packagePath = localPathOf(build->m_Url, configurationDocument);
            if (packagePath.isEmpty())
                continue;
            QString assetsPath;
            if (!build->m_AssetsUrl.isEmpty()) {
                assetsPath = localPathOf(build->m_AssetsUrl, configurationDocument);
                if (assetsPath.isEmpty())
                    continue;
            }
            verifyBuild(packagePath, assetsPath);
        }
    }
}

void TTreeVerifier::verifyTree()
{
    enum class EKind { Configuration, Package, Assets };
    std::vector<std::pair<QString, EKind>> documents;
    // Studios keep each package's documents in a folder of its own, and the launcher configuration
    // in launcher/: the documents are wherever they lie below the root. The order is fixed so
    // that two runs list the same faults alike.
    QStringList paths;
    QDirIterator it(m_Root.absolutePath(), {QStringLiteral("*.json")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << it.next();
    paths.sort();
    for (const QString& path : paths) {
        QJsonParseError error{};
        QJsonDocument parsed;
        try {
            parsed = QJsonDocument::fromJson(readDocument(path), &error);
        } catch (const std::exception& failure) {
            addFault(path, QString::fromUtf8(failure.what()));
            continue;
        }
        if (error.error != QJsonParseError::NoError) {
            addFault(path, QStringLiteral("not JSON: %1").arg(error.errorString()));
            continue;
        }
        const QJsonObject object = parsed.object();
        // Only package documents name a program to start.
        if (object.contains(QLatin1String("packages")) ||
            object.contains(QLatin1String("launcher")))
            documents.emplace_back(path, EKind::Configuration);
        else if (object.contains(QLatin1String("executable")))
            documents.emplace_back(path, EKind::Package);
        else if (object.contains(QLatin1String("files")) ||
                 object.contains(QLatin1String("chunks")))
            documents.emplace_back(path, EKind::Assets);
        else // the tree may serve other JSON too, such as the hints
            m_Notes.push_back(QStringLiteral("%1: not a launcher configuration, package or assets "
                                             "document; not checked")
                                  .arg(shown(path)));
    }
    // A tree in which nothing was found to check must not pass as a sound one.
    if (documents.empty() && m_Faults.empty())
        m_Faults.push_back({m_Root.absolutePath(), QStringLiteral("no documents")});
    for (const auto& [path, kind] : documents)
        if (kind == EKind::Configuration)
            verifyLauncherConfiguration(path);
    for (const auto& [path, kind] : documents)
        if (kind == EKind::Package && !m_CoveredDocuments.count(path))
            verifyBuild(path, QString());
    for (const auto& [path, kind] : documents)
        if (kind == EKind::Assets && !m_CoveredDocuments.count(path))
            verifyLoneAssets(path);
}

void TTreeVerifier::checkPlaceOf(const launcher::TLauncherConfigurationReader& reader,
                                 const QString& configurationDocument)
{
    const launcher::TDocumentTrustReader& trust = reader.getTrust();
    if (!trust.isPresent() || !trust.getInvalidReason().isEmpty())
        return;
    for (TFault& fault : checkPlace(reader, configurationDocument, m_ExpectedPlace))
        addFault(fault.Path, fault.Reason);
    if (!trust.namesPlace())
        m_Notes.push_back(QStringLiteral("%1: names neither its address nor a channel: launchers "
                                         "take it wherever it is served, and refuse it when "
                                         "their settings pin a channel")
                              .arg(shown(configurationDocument)));
    // Signed with the same key, two configurations that name the same place cannot be told
    // apart by a launcher: either could be served in the other's place.
    const std::pair place{
        trust.getAddress().isValid()
            ? launcher::TDocumentTrustReader::pinKey(trust.getAddress()).toString()
            : QString(),
        trust.getChannel()};
    const auto [first, added] = m_Places.emplace(place, configurationDocument);
    if (!added)
        addFault(configurationDocument,
                 QStringLiteral("names the same address and channel as %1: a launcher could be "
                                "served either in the other's place (--address, --channel)")
                     .arg(shown(first->second)));
}

void TTreeVerifier::checkSignature(const QString& document)
{
    if (m_PublicKey.isEmpty() || !m_SignaturesChecked.insert(document).second)
        return;
    QByteArray bytes;
    try {
        bytes = readDocument(document);
    } catch (const std::exception&) {
        return; // the document's own check reports it
    }
    QFile signatureFile(::shared::signature::signaturePath(document));
    const QByteArray signature =
        signatureFile.open(QIODevice::ReadOnly) ? signatureFile.readAll() : QByteArray();
    const auto check = ::shared::signature::checkDocument(m_PublicKey, bytes, signature);
    if (check != ::shared::signature::ECheck::Valid)
        addFault(document, ::shared::signature::describe(check));
}

void TTreeVerifier::verifyLoneAssets(const QString& assetsDocument)
{
    m_CoveredDocuments.insert(assetsDocument);
    checkSignature(QFileInfo(assetsDocument).absoluteFilePath());
    // The launcher reads no package document without a file list.
    const launcher::TPackageConfigurationReader reader(QByteArray("{\"files\": []}"),
                                                       readDocument(assetsDocument), QUrl(),
                                                       directoryUrlOf(assetsDocument));
    ++m_DocumentsChecked;
    m_Notes.push_back(QStringLiteral("%1: no launcher configuration lists it; its chunked files "
                                     "were not reassembled")
                          .arg(shown(assetsDocument)));
    QByteArray ignored;
    for (const TFileInPackage& file : reader.getFiles())
        if (file.ChunkIndexes.empty())
            loadPiece(file.WholeFile, assetsDocument, ignored);
    for (const TChunkInPackage& chunk : reader.getChunks())
        loadPiece(chunk, assetsDocument, ignored);
}

void TTreeVerifier::verifyFiles(const launcher::TPackageConfigurationReader& reader,
                                const QString& packageDocument, const QString& assetsDocument,
                                const std::set<QString>& assetFiles)
{
    const auto& chunks = reader.getChunks();
    for (const TFileInPackage& file : reader.getFiles()) {
        const QString& document =
            assetFiles.count(file.LocalFile) ? assetsDocument : packageDocument;
        const QString where = QStringLiteral("%1: file '%2'").arg(shown(document), file.LocalFile);
        if (!staysInside(file.LocalFile)) {
            m_Faults.push_back(
                {shown(document), QStringLiteral("file '%1' leaves the installation directory")
                                      .arg(file.LocalFile)});
            continue;
        }
        std::vector<const TChunkInPackage*> pieces;
        if (file.ChunkIndexes.empty()) {
            pieces.push_back(&file.WholeFile);
        } else {
            for (const qint32 index : file.ChunkIndexes) {
                if (index < 0 || std::size_t(index) >= chunks.size()) {
                    m_Faults.push_back(
                        {where, QStringLiteral("chunk index %1 out of range").arg(index)});
                    pieces.clear();
                    break;
                }
                pieces.push_back(&chunks[std::size_t(index)]);
            }
            if (pieces.empty())
                continue;
        }

        ::shared::TSha256 hash;
        TFileSize size = 0;
        bool complete = true;
        for (const TChunkInPackage* piece : pieces) {
            QByteArray decoded;
            if (!loadPiece(*piece, document, decoded)) {
                complete = false;
                continue;
            }
            hash.addData(decoded);
            size += TFileSize(decoded.size());
        }
        if (!complete)
            continue; // the broken piece is already reported
        if (size != file.UnpackedSize)
            m_Faults.push_back({where, QStringLiteral("reassembles to %1 bytes, document says %2")
                                           .arg(size)
                                           .arg(file.UnpackedSize)});
        else if (hash.result() != file.UnpackedHash)
            m_Faults.push_back({where, QStringLiteral("reassembles to another SHA-256 than the "
                                                      "document's")});
    }
}

bool TTreeVerifier::loadPiece(const TChunkInPackage& piece, const QString& document,
                              QByteArray& decoded)
{
    const QString path = localPathOf(piece.Url, document);
    if (path.isEmpty())
        return false;
    const auto known = m_ContainerOk.find(path);
    if (known != m_ContainerOk.end() && !known->second)
        return false;

    const auto fail = [&](const QString& reason) {
        m_ContainerOk[path] = false;
        addFault(path, reason);
        return false;
    };
    QFile file(path);
    if (!file.exists())
        return fail(QStringLiteral("missing"));
    if (!file.open(QIODevice::ReadOnly))
        return fail(QStringLiteral("unreadable: %1").arg(file.errorString()));
    const QByteArray packed = file.readAll();
    if (TFileSize(packed.size()) != piece.PackedSize)
        return fail(
            QStringLiteral("%1 bytes, document says %2").arg(packed.size()).arg(piece.PackedSize));
    if (::shared::sha256(packed) != piece.PackedHash)
        return fail(QStringLiteral("packed SHA-256 differs from the document's"));
    try {
        decoded = piece.Unpack ? ::shared::decodeContainerStrict(packed) : packed;
    } catch (const std::exception& error) {
        return fail(QStringLiteral("does not decode: %1").arg(QString::fromUtf8(error.what())));
    }
    if (TFileSize(decoded.size()) != piece.UnpackedSize)
        return fail(QStringLiteral("decodes to %1 bytes, document says %2")
                        .arg(decoded.size())
                        .arg(piece.UnpackedSize));
    if (::shared::sha256(decoded) != piece.UnpackedHash)
        return fail(QStringLiteral("unpacked SHA-256 differs from the document's"));
    m_ContainerOk[path] = true;
    return true;
}

QString TTreeVerifier::localPathOf(const QUrl& url, const QString& document)
{
    if (url.isEmpty()) {
        addFault(document, QStringLiteral("an entry has no URL"));
        return {};
    }
    if (!url.isLocalFile()) {
        addFault(document, QStringLiteral("'%1' is not in this tree").arg(url.toString()));
        return {};
    }
    // The helper keeps a climbing path inside by cutting it short; here that is a fault.
    const QString path = QDir::cleanPath(url.toLocalFile());
    try {
        ::shared::TFileSystemHelper helper;
        if (helper.resolvePathInsideDirectory(m_Root, m_Root.relativeFilePath(path)) == path &&
            path != QDir::cleanPath(m_Root.absolutePath()))
            return path;
    } catch (const std::exception&) {
    }
    addFault(document, QStringLiteral("'%1' leaves the tree").arg(url.toString()));
    return {};
}

QString TTreeVerifier::shown(const QString& path) const
{
    const QString relative = m_Root.relativeFilePath(path);
    return relative.startsWith(QLatin1String("..")) ? path : relative;
}

void TTreeVerifier::addFault(const QString& path, const QString& reason)
{
    m_Faults.push_back({shown(path), reason});
}

} // namespace orvik::publisher
