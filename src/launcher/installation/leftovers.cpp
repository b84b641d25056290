#include "launcher/installation/leftovers.h"

#include "launcher/installation/chunkrearranger.h"
#include "launcher/logging/logging.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QDirIterator>
#include <QFile>
#include <QSet>

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

} // namespace orvik::launcher
