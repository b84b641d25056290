#include "publisher/publish/buildpublisher.h"

#include "publisher/build/buildscanner.h"
#include "publisher/documents/packagedocumentwriter.h"
#include "publisher/publish/piecepipeline.h"
#include "publisher/publishererror.h"
#include "publisher/store/atomicfile.h"
#include "shared/chunker/contentdefinedchunker.h"
#include "shared/hash/sha256.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace orvik::publisher {

namespace {

constexpr qint64 kReadSize = 1048576;
constexpr TFileSize kProgressStep = 256 * 1048576ull;

// Names become file names in the tree and parts of URLs: keep them to what needs no escaping.
void checkNamePart(const QString& what, const QString& value)
{
    static const QRegularExpression allowed(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    if (!allowed.match(value).hasMatch())
        throw TPublisherError(
            QStringLiteral("%1 '%2' must be letters, digits, '.', '_' or '-'").arg(what, value));
}

void checkOneOf(const QString& what, const QString& value, const QStringList& known)
{
    if (!value.isEmpty() && !known.contains(value))
        throw TPublisherError(QStringLiteral("unknown %1 '%2' (%3)")
                                  .arg(what, value, known.join(QStringLiteral(", "))));
}

void checkOptions(const TPublishOptions& options)
{
    checkNamePart(QStringLiteral("name"), options.Name);
    checkNamePart(QStringLiteral("version"), options.Version);
    if (!options.AssetsPrefixes.isEmpty() && options.AssetsVersion.isEmpty())
        throw TPublisherError(QStringLiteral("an assets split needs an assets version"));
    if (!options.AssetsVersion.isEmpty())
        checkNamePart(QStringLiteral("assets version"), options.AssetsVersion);
    checkOneOf(QStringLiteral("generation"), options.Generation,
               {QStringLiteral("first"), QStringLiteral("second")});
    checkOneOf(QStringLiteral("variant"), options.Variant,
               {QStringLiteral("regular"), QStringLiteral("preview"), QStringLiteral("beta"),
                QStringLiteral("test")});
    if (options.Executable.isEmpty())
        throw TPublisherError(QStringLiteral("no executable given"));
    if (options.CdnDirectory.isEmpty())
        throw TPublisherError(QStringLiteral("no CDN directory given"));
}

bool isSameOrInside(const QString& path, const QString& directory)
{
    return path == directory || path.startsWith(directory + QLatin1Char('/'));
}

// Returns the canonical CDN directory, created when missing.
QString prepareCdnDirectory(const QString& cdnDirectory, const QString& buildDirectory)
{
    // Either way round, one run would publish or overwrite its own output. Checked on the
    // written paths before anything is created, then on the real ones.
    const auto overlap = [](const QString& cdn, const QString& build) {
        return isSameOrInside(cdn, build) || isSameOrInside(build, cdn);
    };
    const QString overlapMessage =
        QStringLiteral("the CDN directory and the build directory must not contain each other");
    if (overlap(QDir::cleanPath(QFileInfo(cdnDirectory).absoluteFilePath()),
                QDir::cleanPath(QFileInfo(buildDirectory).absoluteFilePath())))
        throw TPublisherError(overlapMessage);
    if (!QDir().mkpath(cdnDirectory))
        throw TPublisherError(QStringLiteral("cannot create CDN directory '%1'").arg(cdnDirectory));
    const QString cdn = QFileInfo(cdnDirectory).canonicalFilePath();
    if (overlap(cdn, QFileInfo(buildDirectory).canonicalFilePath()))
        throw TPublisherError(overlapMessage);
    return cdn;
}

bool isAsset(const QString& relativePath, const QStringList& prefixes)
{
    for (const QString& prefix : prefixes)
        if (relativePath.startsWith(prefix))
            return true;
    return false;
}

// A file's pieces as ids into the pipeline, before their outcomes are known.
struct TPendingFile
{
    TBuildFile File;
    QByteArray Hash;
    bool Chunked = false;
    std::vector<int> PieceIds;
};

class TBuildReader
{
public:
    TBuildReader(TPiecePipeline& pipeline, const TPublishOptions& options, TFileSize totalBytes,
                 const TProgressReporter& progress)
        : m_Pipeline(pipeline)
        , m_Codecs(options.Codecs)
        , m_AfterRead(options.AfterFileRead)
        , m_TotalBytes(totalBytes)
        , m_Progress(progress)
    {}

    TPendingFile read(const TBuildFile& file)
    {
        QFile input;
        const int descriptor = ::open(file.NativePath.constData(), O_RDONLY | O_CLOEXEC);
        if (descriptor < 0)
            throw TPublisherError(
                QStringLiteral("cannot read '%1': %2")
                    .arg(file.RelativePath, QString::fromLocal8Bit(std::strerror(errno))));
        if (!input.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
            ::close(descriptor);
            throw TPublisherError(
                QStringLiteral("cannot read '%1': %2").arg(file.RelativePath, input.errorString()));
        }
        TPendingFile pending;
        pending.File = file;
        pending.Chunked = file.Size > ::shared::kMinimumChunkLength;
        const ::shared::TContainerSettings codec = m_Codecs.codecFor(file.RelativePath);

        ::shared::TSha256 fileHash;
        ::shared::TContentDefinedChunker chunker;
        QByteArray piece;
        std::vector<char> buffer(static_cast<std::size_t>(kReadSize));
        TFileSize fileBytes = 0;
        for (;;) {
            const qint64 read = input.read(buffer.data(), kReadSize);
            if (read < 0)
                throw TPublisherError(QStringLiteral("cannot read '%1': %2")
                                          .arg(file.RelativePath, input.errorString()));
            if (read == 0)
                break;
            fileHash.addData(buffer.data(), std::size_t(read));
            fileBytes += TFileSize(read);
            if (!pending.Chunked) {
                piece.append(buffer.data(), int(read));
                continue;
            }
            const auto* data = reinterpret_cast<const uchar*>(buffer.data());
            std::size_t remaining = std::size_t(read);
            while (remaining > 0) {
                const std::size_t taken = chunker.feed(data, remaining);
                piece.append(reinterpret_cast<const char*>(data), int(taken));
                data += taken;
                remaining -= taken;
                if (chunker.chunkEnded())
                    pending.PieceIds.push_back(m_Pipeline.submit(std::exchange(piece, {}), codec));
            }
            reportProgress(TFileSize(read));
        }
        if (m_AfterRead)
            m_AfterRead(file.RelativePath);
        // A file written to while it is read gets a digest of neither state. The descriptor tells
        // a rewrite in place, the path a replacement; both are compared with the listing, so a
        // change before the file was opened counts as well.
        TFileStamp opened;
        TFileStamp named;
        if (fileBytes != file.Size || !stampOfDescriptor(descriptor, opened) ||
            opened != file.Stamp || !stampOfPath(file.NativePath, named) || named != file.Stamp)
            throw TPublisherError(
                QStringLiteral("file '%1' changed while it was read").arg(file.RelativePath));
        if (!piece.isEmpty() || pending.PieceIds.empty())
            pending.PieceIds.push_back(m_Pipeline.submit(std::move(piece), codec));
        if (!pending.Chunked)
            reportProgress(fileBytes);
        pending.Hash = fileHash.result();
        return pending;
    }

private:
    void reportProgress(TFileSize bytes)
    {
        const TFileSize before = m_BytesRead / kProgressStep;
        m_BytesRead += bytes;
        if (m_Progress && m_BytesRead / kProgressStep != before)
            m_Progress(
                QStringLiteral("read %1 of %2 MiB").arg(m_BytesRead >> 20).arg(m_TotalBytes >> 20));
    }

    TPiecePipeline& m_Pipeline;
    const TCodecRules& m_Codecs;
    const std::function<void(const QString&)>& m_AfterRead;
    TFileSize m_TotalBytes;
    TFileSize m_BytesRead = 0;
    const TProgressReporter& m_Progress;
};

std::vector<TPublishedFile> resolvePieces(const std::vector<TPendingFile>& pending,
                                          const std::vector<TStoredPiece>& pieces)
{
    std::vector<TPublishedFile> files;
    for (const TPendingFile& file : pending) {
        TPublishedFile published;
        published.RelativePath = file.File.RelativePath;
        published.Size = file.File.Size;
        published.Hash = file.Hash;
        published.Executable = file.File.Executable;
        published.Chunked = file.Chunked;
        for (const int id : file.PieceIds)
            published.Pieces.push_back(pieces[std::size_t(id)]);
        files.push_back(std::move(published));
    }
    return files;
}

void countPieces(const std::vector<TPublishedFile>& files, TPublishResult& result)
{
    std::set<QString> seen;
    for (const TPublishedFile& file : files) {
        for (const TStoredPiece& piece : file.Pieces) {
            ++result.Pieces;
            if (!seen.insert(piece.RelativeUrl).second)
                continue;
            result.PackedBytes += piece.PackedSize;
            if (piece.Written) {
                ++result.ContainersWritten;
                result.BytesWritten += piece.PackedSize;
            } else {
                ++result.ContainersKept;
            }
        }
    }
}

void writeDocument(const QString& cdn, const QString& name, const QByteArray& bytes,
                   const TDocumentSigner& signer, TPublishResult& result)
{
    const QString path = cdn + QLatin1Char('/') + name;
    if (!fileHoldsBytes(path, bytes)) {
        writeFileAtomically(path, bytes);
        ++result.DocumentsWritten;
    }
    // Also for an unchanged document: it may have been published before without a key.
    if (signer.signFile(path, bytes))
        ++result.SignaturesWritten;
}

} // namespace

TPublishResult publishBuild(const TPublishOptions& options, const TProgressReporter& progress)
{
    checkOptions(options);
    TBuildScan scan =
        scanBuildDirectory(options.BuildDirectory,
                           options.SkipBrokenLinks ? EBrokenLinks::Skip : EBrokenLinks::Refuse);
    std::vector<TBuildFile>& buildFiles = scan.Files;
    const QString executable = QDir::cleanPath(options.Executable);
    bool executableFound = false;
    TFileSize totalBytes = 0;
    for (TBuildFile& file : buildFiles) {
        totalBytes += file.Size;
        if (file.RelativePath == executable && !isAsset(executable, options.AssetsPrefixes)) {
            file.Executable = true;
            executableFound = true;
        }
    }
    if (!executableFound)
        throw TPublisherError(
            QStringLiteral("executable '%1' is not a file of the build outside the assets")
                .arg(options.Executable));
    const QString cdn = prepareCdnDirectory(options.CdnDirectory, options.BuildDirectory);
    if (progress)
        for (const QString& link : scan.SkippedLinks)
            progress(QStringLiteral("warning: left out symbolic link '%1', which leads nowhere")
                         .arg(link));
    if (progress)
        progress(QStringLiteral("publishing %1 files, %2 MiB")
                     .arg(buildFiles.size())
                     .arg(totalBytes >> 20));

    TPiecePipeline pipeline(TContainerStore(cdn), options.Threads);
    TBuildReader reader(pipeline, options, totalBytes, progress);
    std::vector<TPendingFile> packageFiles;
    std::vector<TPendingFile> assetFiles;
    for (const TBuildFile& file : buildFiles)
        (isAsset(file.RelativePath, options.AssetsPrefixes) ? assetFiles : packageFiles)
            .push_back(reader.read(file));
    const std::vector<TStoredPiece> pieces = pipeline.finish();

    TPublishResult result;
    result.Files = int(buildFiles.size());
    result.BytesRead = totalBytes;
    const std::vector<TPublishedFile> package = resolvePieces(packageFiles, pieces);
    const std::vector<TPublishedFile> assets = resolvePieces(assetFiles, pieces);
    countPieces(package, result);
    countPieces(assets, result);

    const bool withAssets = !options.AssetsVersion.isEmpty();
    const TPackageDocumentHeader header{options.Version, executable, options.Parameters,
                                        options.Generation, options.Variant};
    const QByteArray packageDocument = writePackageDocument(header, package);
    result.PackageDocument = QStringLiteral("%1-%2.json").arg(options.Name, options.Version);
    if (withAssets) {
        result.AssetsDocument = QStringLiteral("%1-%2-assets-%3.json")
                                    .arg(options.Name, options.Version, options.AssetsVersion);
        writeDocument(
            cdn, result.AssetsDocument,
            writeAssetsDocument(options.AssetsVersion, assets, countDocumentChunks(package)),
            options.Signer, result);
    }
    writeDocument(cdn, result.PackageDocument, packageDocument, options.Signer, result);
    return result;
}

} // namespace orvik::publisher
