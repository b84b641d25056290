#pragma once

#include "shared/filesystemhelper/localfileinfo.h"
#include "shared/filesystemhelper/readonlymemoryblob.h"

#include <QByteArray>
#include <QDir>
#include <QJsonDocument>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

class QSettings;

namespace shared {

// The single door to the file system. Operations either succeed or throw std::runtime_error
// with "I/O error on file '<path>': <reason>". Every operation is virtual so tests and special
// installations can replace one of them; compound operations go through the virtual ones.
// Stateless: safe to call from the GUI thread and pool threads at once.
class TFileSystemHelper
{
public:
    virtual ~TFileSystemHelper() = default;

    // A blob for the path; "x" falls back to "x.lzma", and ".lzma" files decode on read.
    virtual std::shared_ptr<TReadOnlyMemoryBlob> openReadOnlyMemoryBlob(const QString& path);
    virtual QByteArray readFile(const QString& path);
    // Empty when the file cannot be opened; other read errors still throw.
    virtual QByteArray readFileIfExists(const QString& path);
    virtual void writeFile(const QString& path, const QByteArray& bytes);
    // For files whose loss or tearing would hurt (markers, local copies of documents): the bytes
    // go to a temporary file beside the path, reach the disk, and replace the path in one rename.
    // A crash leaves the old content or the new one; a symbolic link at the path is replaced,
    // never written through.
    virtual void writeFileAtomically(const QString& path, const QByteArray& bytes);
    // Whether a file name is one that writeFileAtomically leaves behind when it is interrupted.
    static bool isInterruptedWriteName(const QString& fileName);
    virtual void writeTextFile(const QString& path, const QString& text);
    virtual void appendTextFile(const QString& path, const QString& text);
    virtual bool deleteFile(const QString& path);
    virtual void copyFile(const QString& sourcePath, const QString& targetPath);
    virtual QDir createDirectory(const QString& path);
    // Keeps a path taken from a document or the network inside the base directory.
    virtual QString resolvePathInsideDirectory(const QDir& base, const QString& relativePath);
    virtual void forEachFileInDirectory(const QString& path,
                                        const std::function<void(const TLocalFileInfo&)>& callback);
    virtual std::vector<TLocalFileInfo> listFilesInDirectory(const QString& path);
    virtual bool fileExists(const QString& path);
    virtual bool directoryExists(const QString& path);
    virtual QString joinPath(const QStringList& parts);
    virtual QDir getOrCreateSubdirectory(const QString& parentPath, const QString& name);
    virtual std::shared_ptr<QSettings> openIniSettings(const QString& path);
    // A null document for a missing or empty file; parseFailed tells a syntax error apart.
    virtual QJsonDocument readJsonFileAsQJsonDocument(const QString& path, bool& parseFailed) const;
};

} // namespace shared
