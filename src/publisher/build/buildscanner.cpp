#include "publisher/build/buildscanner.h"

#include "publisher/publishererror.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>

#include <algorithm>

namespace orvik::publisher {

namespace {

bool isInside(const QString& path, const QString& root)
{
    return path == root || path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + '/');
}

} // namespace

std::vector<TBuildFile> scanBuildDirectory(const QString& buildDirectory)
{
    const QFileInfo rootInfo(buildDirectory);
    if (!rootInfo.isDir())
        throw TPublisherError(
            QStringLiteral("build directory '%1' does not exist").arg(buildDirectory));
    // Links are judged by where they really lead, so the root must be in the same form.
    const QString root = rootInfo.canonicalFilePath();
    const QDir rootDir(root);

    std::vector<TBuildFile> files;
    QDirIterator it(root, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        const QFileInfo info = it.fileInfo();
        const QString relativePath = rootDir.relativeFilePath(info.absoluteFilePath());
        if (info.isSymLink()) {
            const QString target = info.canonicalFilePath();
            if (target.isEmpty())
                throw TPublisherError(
                    QStringLiteral("symbolic link '%1' leads nowhere").arg(relativePath));
            if (!isInside(target, root))
                throw TPublisherError(
                    QStringLiteral("symbolic link '%1' leaves the build directory")
                        .arg(relativePath));
            // A linked directory inside the build is published once, under its real path.
            if (QFileInfo(target).isDir())
                continue;
        } else if (info.isDir()) {
            continue;
        }
        if (!info.isFile())
            throw TPublisherError(QStringLiteral("'%1' is not a regular file").arg(relativePath));
        if (!info.isReadable())
            throw TPublisherError(QStringLiteral("file '%1' is not readable").arg(relativePath));

        TBuildFile file;
        file.RelativePath = relativePath;
        file.AbsolutePath = info.absoluteFilePath();
        file.Size = TFileSize(info.size());
        file.Executable = info.permissions() & QFileDevice::ExeOwner;
        files.push_back(std::move(file));
    }
    std::sort(files.begin(), files.end(), [](const TBuildFile& a, const TBuildFile& b) {
        return a.RelativePath < b.RelativePath;
    });
    return files;
}

} // namespace orvik::publisher
