#include "shared/filesystemhelper/filesystemhelper.h"

#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/lzmacompressedreadonlymemoryblob.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QJsonParseError>
#include <QSettings>
#include <QTextStream>

namespace shared {

namespace {

const QString kCompressedSuffix = QStringLiteral(".lzma");

bool isSameOrInside(const QString& path, const QString& base)
{
    if (path == base)
        return true;
    const QString prefix = base.endsWith(QLatin1Char('/')) ? base : base + QLatin1Char('/');
    return path.startsWith(prefix);
}

void writeText(const QString& path, const QString& text, QIODevice::OpenMode mode)
{
    QFile file(path);
    if (!file.open(mode | QIODevice::WriteOnly | QIODevice::Text))
        return;
    QTextStream stream(&file);
    stream << text;
}

} // namespace

std::shared_ptr<TReadOnlyMemoryBlob> TFileSystemHelper::openReadOnlyMemoryBlob(const QString& path)
{
    if (fileExists(path)) {
        if (path.endsWith(kCompressedSuffix))
            return std::make_shared<TLZMACompressedReadOnlyMemoryBlob>(path);
        return std::make_shared<TReadOnlyMemoryBlob>(path);
    }
    if (fileExists(path + kCompressedSuffix))
        return std::make_shared<TLZMACompressedReadOnlyMemoryBlob>(path + kCompressedSuffix);
    return std::make_shared<TReadOnlyMemoryBlob>(path); // throws "File does not exist"
}

QByteArray TFileSystemHelper::readFile(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    throwIfDeviceFailed(file);
    QByteArray bytes = file.readAll();
    throwIfDeviceFailed(file);
    file.close();
    throwIfDeviceFailed(file);
    return bytes;
}

QByteArray TFileSystemHelper::readFileIfExists(const QString& path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    if (file.error() == QFileDevice::OpenError)
        return {};
    throwIfDeviceFailed(file);
    QByteArray bytes = file.readAll();
    throwIfDeviceFailed(file);
    file.close();
    throwIfDeviceFailed(file);
    return bytes;
}

void TFileSystemHelper::writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw ioError(file.fileName(), QStringLiteral("Could not open file."));
    const qint64 written = file.write(bytes);
    throwIfDeviceFailed(file);
    if (written != bytes.size())
        throw ioError(file.fileName(), QStringLiteral("Could not write all data to disk."));
    file.close();
    throwIfDeviceFailed(file);
}

void TFileSystemHelper::writeFileAtomically(const QString& path, const QByteArray& bytes)
{
    replaceFileAtomically(path, bytes);
}

bool TFileSystemHelper::isInterruptedWriteName(const QString& fileName)
{
    return hasTemporarySuffix(fileName, kInterruptedWriteMarker);
}

void TFileSystemHelper::writeTextFile(const QString& path, const QString& text)
{
    writeText(path, text, QIODevice::Truncate);
}

void TFileSystemHelper::appendTextFile(const QString& path, const QString& text)
{
    writeText(path, text, QIODevice::Append);
}

bool TFileSystemHelper::deleteFile(const QString& path)
{
    if (!QFile::remove(path))
        throw std::runtime_error(
            QStringLiteral("Failed to delete file %1").arg(path).toUtf8().toStdString());
    return true;
}

void TFileSystemHelper::copyFile(const QString& sourcePath, const QString& targetPath)
{
    QFile::copy(sourcePath, targetPath);
}

QDir TFileSystemHelper::createDirectory(const QString& path)
{
    QDir dir(path);
    if (dir.exists())
        return dir;
    if (!dir.mkpath(QStringLiteral(".")))
        throw std::runtime_error(QStringLiteral("Failed to create folder: '%1'.")
                                     .arg(QDir::toNativeSeparators(dir.path()))
                                     .toUtf8()
                                     .toStdString());
    dir.refresh();
    return dir;
}

QString TFileSystemHelper::resolvePathInsideDirectory(const QDir& base, const QString& relativePath)
{
    const QString basePath = QDir::cleanPath(base.absolutePath());
    const QString candidate = QDir::cleanPath(joinPath({basePath, relativePath}));
    if (isSameOrInside(candidate, basePath))
        return candidate;

    // A path that climbs out keeps only its name and lands directly inside the base.
    const QFileInfo info(relativePath);
    QString lastComponent = info.fileName();
    if (lastComponent.isEmpty())
        lastComponent = QDir(relativePath).dirName();
    const QString fallback = QDir::cleanPath(joinPath({basePath, lastComponent}));
    if (isSameOrInside(fallback, basePath))
        return fallback;

    // A bare ".." has no name to keep: there is no place inside the base for it.
    throw ioError(relativePath, QStringLiteral("Path leaves the directory '%1'.").arg(basePath));
}

void TFileSystemHelper::forEachFileInDirectory(
    const QString& path, const std::function<void(const TLocalFileInfo&)>& callback)
{
    for (const TLocalFileInfo& info : listFilesInDirectory(path))
        callback(info);
}

std::vector<TLocalFileInfo> TFileSystemHelper::listFilesInDirectory(const QString& path)
{
    std::vector<TLocalFileInfo> files;
    const QFileInfoList entries =
        QDir(path).entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::NoSort);
    files.reserve(static_cast<size_t>(entries.size()));
    for (const QFileInfo& entry : entries)
        files.emplace_back(entry.absoluteFilePath(), entry.size());
    return files;
}

bool TFileSystemHelper::fileExists(const QString& path)
{
    return QFileInfo::exists(path);
}

bool TFileSystemHelper::directoryExists(const QString& path)
{
    return QDir(path).exists();
}

QString TFileSystemHelper::joinPath(const QStringList& parts)
{
    QString joined;
    for (const QString& part : parts)
        joined += QLatin1Char('/') + part;
    if (!joined.isEmpty())
        joined.remove(0, 1);
    return QDir::toNativeSeparators(joined);
}

QDir TFileSystemHelper::getOrCreateSubdirectory(const QString& parentPath, const QString& name)
{
    if (!directoryExists(parentPath))
        throw std::runtime_error("Directory doesn't exist");
    QDir dir(parentPath);
    if (!dir.cd(name)) {
        if (!dir.mkdir(name))
            throw std::runtime_error("Failed to create subdirectory.");
        dir.cd(name);
    }
    return dir;
}

std::shared_ptr<QSettings> TFileSystemHelper::openIniSettings(const QString& path)
{
    return std::make_shared<QSettings>(path, QSettings::IniFormat);
}

QJsonDocument TFileSystemHelper::readJsonFileAsQJsonDocument(const QString& path,
                                                             bool& parseFailed) const
{
    // readFileIfExists is not const, but the helper holds no state: the call changes nothing.
    const QByteArray bytes = const_cast<TFileSystemHelper*>(this)->readFileIfExists(path);
    QJsonParseError error{};
    QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (!bytes.isEmpty() && error.error != QJsonParseError::NoError) {
        qWarning() << "Json parse error in file" << path << ": " << error.errorString()
                   << "at offset" << error.offset;
        parseFailed = true;
        return QJsonDocument();
    }
    parseFailed = false;
    return document;
}

} // namespace shared
