#include "shared/filesystemhelper/durability.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace shared {

namespace {

// A file system that cannot flush a descriptor (EINVAL, EROFS) holds nothing more to keep.
bool isRealFailure(int Error)
{
    return Error != EINVAL && Error != EROFS;
}

// Opens without blocking on a FIFO and without following a link in the last name: only what is
// really there is flushed. Missing is not a failure.
void syncEntry(const QString& Path, int Flags)
{
    const int descriptor = ::open(QFile::encodeName(Path).constData(),
                                  O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | Flags);
    if (descriptor < 0) {
        if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR)
            return;
        throw ioError(Path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    const int result = ::fsync(descriptor);
    const int error = errno;
    ::close(descriptor);
    if (result != 0 && isRealFailure(error))
        throw ioError(Path, QString::fromLocal8Bit(std::strerror(error)));
}

// The folders of Paths and theirs up to Root, Root included, deepest first: a folder's own name
// is made durable by its parent, after its entries.
void syncFoldersUpTo(const QString& Root, const QStringList& Paths)
{
    std::set<QString> folders{Root};
    for (const QString& path : Paths) {
        for (QString folder = QFileInfo(path).absolutePath();
             folder.size() > Root.size() && folder.startsWith(Root) &&
             folders.insert(folder).second;
             folder = QFileInfo(folder).absolutePath()) {
        }
    }
    for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder)
        syncEntry(*folder, O_DIRECTORY);
}

QString cleanRoot(const QString& Root)
{
    return QDir::cleanPath(QDir(Root).absolutePath());
}

} // namespace

void makeDurable(const QString& Root, const QStringList& Files)
{
    const QString root = cleanRoot(Root);
    const int descriptor =
        ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        throw ioError(root, QString::fromLocal8Bit(std::strerror(errno)));
    const int result = ::syncfs(descriptor);
    const int error = errno;
    ::close(descriptor);
    if (result != 0 && isRealFailure(error))
        throw ioError(root, QString::fromLocal8Bit(std::strerror(error)));

    for (const QString& file : Files)
        syncEntry(file, 0);
    syncFoldersUpTo(root, Files);
}

void makeRemovalsDurable(const QString& Root, const QStringList& Paths)
{
    syncFoldersUpTo(cleanRoot(Root), Paths);
}

} // namespace shared
