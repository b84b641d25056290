#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <memory>
#include <utility>
#include <vector>

namespace orvik::launcher {

class TPiecewiseJsonReader;

// One piece of downloadable data: a chunk, or a file downloaded whole.
struct TChunkInPackage
{
    QUrl Url;
    TFileSize PackedSize = 0;
    QByteArray PackedHash; // SHA-256, raw bytes
    TFileSize UnpackedSize = 0;
    QByteArray UnpackedHash; // SHA-256, raw bytes
    // The data travels in a compressed container that must be decoded.
    bool Unpack = true;
};

// Carried along from the documents; nothing acts on it.
struct TFilePatch
{
    QUrl Url;
    QString FromVersion;
    QString ToVersion;
    qint32 Size = 0;
};

// One file of an installation.
struct TFileInPackage
{
    QString LocalFile; // relative to the installation directory
    TFileSize UnpackedSize = 0;
    QByteArray UnpackedHash;
    bool Executable = false;
    std::vector<TFilePatch> Patches;
    // Positions in the configuration's chunk list, in file order; empty for a whole file.
    std::vector<qint32> ChunkIndexes;
    TChunkInPackage WholeFile;
};

class TChunkInPackageVector : public std::vector<TChunkInPackage>
{
public:
    using std::vector<TChunkInPackage>::vector;
};

class TFileInPackageVector : public std::vector<TFileInPackage>
{
public:
    using std::vector<TFileInPackage>::vector;
};

enum class EPackageGeneration : qint32 {
    UnknownGeneration = 0,
    FirstGeneration = 1,
    SecondGeneration = 2
};
enum class EPackageVariant : qint32 {
    UnknownVariant = 0,
    Regular = 1,
    Preview = 2,
    Beta = 3,
    Test = 4
};

// A build's package document and optional assets document, combined: chunks of the package
// document first, files of both sorted by path. Never throws. A document that cannot describe an
// installation gives an invalid reader with empty lists: malformed JSON, a package document that
// is not an object with a "files" array (a portal's error page, "{}"), a file entry that names no
// file, a chunk index outside the chunk list, a downloaded document naming data outside http
// and https, a size or sum of sizes no file system can hold, or a name or path longer than file
// systems allow. Acting on such a document would delete or replace the installed files.
class TPackageConfigurationReader
{
public:
    TPackageConfigurationReader() = default;
    TPackageConfigurationReader(QByteArray&& PackageData, QByteArray&& AssetData,
                                const QUrl& PackageBaseUrl, const QUrl& AssetBaseUrl);

    const QString& getVersion() const { return m_Version; }
    const QString& getAssetsVersion() const { return m_AssetsVersion; }
    EPackageGeneration getGeneration() const { return m_Generation; }
    EPackageVariant getVariant() const { return m_Variant; }
    const QString& getExecutable() const { return m_Executable; }
    const QStringList& getParameters() const { return m_Parameters; }
    const TChunkInPackageVector& getChunks() const { return records().Chunks; }
    const TFileInPackageVector& getFiles() const { return records().Files; }
    // Empty once released (below).
    const QByteArray& getPackageData() const { return m_PackageData; }
    const QByteArray& getAssetData() const { return m_AssetData; }
    bool hasAssetData() const { return m_bHasAssetData; }
    // The bytes are only needed to write an installation's markers, yet a document of many files
    // is half the memory of its parsed records: once the bytes are on disk, they can go. What
    // stays are their SHA-256 digests (empty before), by which they are found there again.
    void releaseDocumentData();
    bool isDocumentDataReleased() const { return !m_PackageDigest.isEmpty(); }
    const QByteArray& getPackageDigest() const { return m_PackageDigest; }
    const QByteArray& getAssetDigest() const { return m_AssetDigest; }
    // The signature files that came with the documents, kept so that the local copies carry them.
    void setSignatures(QByteArray PackageSignature, QByteArray AssetSignature)
    {
        m_PackageSignature = std::move(PackageSignature);
        m_AssetSignature = std::move(AssetSignature);
    }
    const QByteArray& getPackageSignature() const { return m_PackageSignature; }
    const QByteArray& getAssetSignature() const { return m_AssetSignature; }
    bool isValid() const { return m_bValid; }
    // Why the documents were refused, for the log and the player; empty when valid.
    const QString& getInvalidReason() const { return m_InvalidReason; }

    // A copy that lists only the files of these paths, every chunk kept: what a repair of the
    // files a verification found damaged plans from.
    TPackageConfigurationReader withOnlyFiles(const QStringList& LocalFiles) const;

    // "P<package version> A<assets version>", "?" for an empty one: what installed and remote
    // configurations are compared by.
    QString versionLabel() const;

private:
    // Shared by copies and never changed once read: a document of many files has a record each,
    // and the copies that planning and verification take would cost the window's thread a deep
    // copy of all of them.
    struct TRecords
    {
        TChunkInPackageVector Chunks;
        TFileInPackageVector Files;
    };
    const TRecords& records() const;

    // Each returns why the documents are refused, or an empty text.
    QString readDocuments(const TPiecewiseJsonReader& Package, const TPiecewiseJsonReader& Assets);
    // Total: the sizes read so far, kept within what a file system can hold.
    QString readChunks(const TPiecewiseJsonReader& Document, const QUrl& BaseUrl, TFileSize& Total,
                       TRecords& Records);
    QString readFiles(const TPiecewiseJsonReader& Document, const QUrl& BaseUrl, TFileSize& Total,
                      TRecords& Records);
    void refuse(const QString& Reason);

    QUrl m_PackageBaseUrl;
    QUrl m_AssetBaseUrl;
    QString m_Version;
    QString m_AssetsVersion;
    EPackageGeneration m_Generation = EPackageGeneration::UnknownGeneration;
    EPackageVariant m_Variant = EPackageVariant::UnknownVariant;
    QString m_Executable;
    QStringList m_Parameters;
    std::shared_ptr<const TRecords> m_pRecords;
    QByteArray m_PackageData;
    QByteArray m_AssetData;
    bool m_bHasAssetData = false;
    QByteArray m_PackageDigest;
    QByteArray m_AssetDigest;
    QByteArray m_PackageSignature;
    QByteArray m_AssetSignature;
    bool m_bValid = false;
    QString m_InvalidReason;
};

} // namespace orvik::launcher
