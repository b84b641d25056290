#include "launcher/installation/leftovers.h"

#include "launcher/installation/chunkrearranger.h"
#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <set>

namespace orvik::launcher {

namespace {

// Taken while the program loads, before any thread of it can write a file.
const QDateTime g_LauncherStartTime = QDateTime::currentDateTimeUtc();

bool isLeftOverName(const QString& name)
{
    return ::shared::TFileSystemHelper::isInterruptedWriteName(name) ||
           ::shared::hasTemporarySuffix(name, kReuseMarker);
}

} // namespace

QDateTime launcherStartTime()
{
    return g_LauncherStartTime;
}

void removeLeftOversOfInterruptedRuns(const QDir& Directory,
                                      const TFileInPackageVector& ListedFiles,
                                      const QDateTime& WrittenBefore)
{
    const QString root = Directory.absolutePath() + QLatin1Char('/');
    QSet<QString> listed;
    for (const TFileInPackage& file : ListedFiles)
        listed.insert(QDir::cleanPath(file.LocalFile));

    QDirIterator it(Directory.absolutePath(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (!isLeftOverName(it.fileName()) || listed.contains(path.mid(root.size())) ||
            it.fileInfo().lastModified() >= WrittenBefore)
            continue;
        qInfo() << "Removing left-over temporary file" << path << threadSuffix;
        if (!QFile::remove(path))
            qWarning() << "Could not remove" << path << threadSuffix;
    }
}

void removeFoldersLeftEmpty(const QDir& Directory, const std::vector<QString>& RemovedFiles)
{
    const QString root = QDir::cleanPath(Directory.absolutePath()) + QLatin1Char('/');
    std::set<QString> parents;
    for (const QString& file : RemovedFiles)
        parents.insert(QFileInfo(file).absolutePath());
    // Deepest first: a folder is tried again after each of its subfolders went, so the last try
    // sees it as it stays.
    std::vector<QString> folders(parents.begin(), parents.end());
    std::stable_sort(folders.begin(), folders.end(), [](const QString& Left, const QString& Right) {
        return Left.count(QLatin1Char('/')) > Right.count(QLatin1Char('/'));
    });
    for (QString folder : folders) {
        // rmdir removes only an empty folder: nothing inside is ever at stake.
        while (folder.startsWith(root) && QDir().rmdir(folder)) {
            qInfo() << "Removed folder left empty" << folder << threadSuffix;
            folder = QFileInfo(folder).absolutePath();
        }
    }
}

} // namespace orvik::launcher
