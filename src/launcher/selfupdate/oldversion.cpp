#include "launcher/selfupdate/oldversion.h"

#include "launcher/logging/logging.h"
#include "launcher/product/launcherconstants.h"
#include "launcher/selfupdate/selfupdatecheckpoint.h"
#include "shared/filesystemhelper/ioerror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::launcher {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// Whether anything is at Path, a dangling link included.
bool occupied(const QString& Path)
{
    const QFileInfo info(Path);
    return info.exists() || info.isSymLink();
}

void removeEntry(const QString& Path)
{
    const QFileInfo info(Path);
    if (info.isDir() && !info.isSymLink()) {
        if (!QDir(Path).removeRecursively())
            throw ::shared::ioError(Path, QStringLiteral("Could not remove the folder."));
        return;
    }
    if (::unlink(native(Path).constData()) != 0 && errno != ENOENT)
        throw ::shared::ioError(Path, systemReason());
}

void renameEntry(const QString& From, const QString& To)
{
    if (::rename(native(From).constData(), native(To).constData()) != 0)
        throw ::shared::ioError(From, systemReason());
}

} // namespace

QString oldVersionPath(const QString& Path)
{
    return Path + constants::kOldVersionSuffix;
}

void keepOldVersion(const QString& Path)
{
    const QFileInfo info(Path);
    if (!occupied(Path))
        return;
    if (info.isDir() && !info.isSymLink()) {
        moveAsideAsOldVersion(Path);
        return;
    }
    const QString old = oldVersionPath(Path);
    removeEntry(old);
    if (::link(native(Path).constData(), native(old).constData()) != 0) {
        // File systems without hard links (FAT, some network shares) get a copy; a copy broken
        // off by a crash is harmless, the file itself is still whole.
        const QString reason = systemReason();
        if (info.isSymLink() || !QFile::copy(Path, old))
            throw ::shared::ioError(old, reason);
    }
    qInfo() << "keepOldVersion" << old << threadSuffix;
    passSelfUpdateCheckpoint("moved-aside");
}

void moveAsideAsOldVersion(const QString& Path)
{
    if (!occupied(Path))
        return;
    const QString old = oldVersionPath(Path);
    removeEntry(old);
    renameEntry(Path, old);
    qInfo() << "moveAsideAsOldVersion" << old << threadSuffix;
    passSelfUpdateCheckpoint("moved-aside");
}

bool restoreOldVersion(const QString& Path)
{
    const QString old = oldVersionPath(Path);
    if (!occupied(old))
        return false;
    // Not replaced yet, the file and its ".old" are one file under two names, and rename between
    // two links of one file does nothing at all: the ".old" name has to go by itself.
    struct stat file = {};
    struct stat kept = {};
    if (::lstat(native(Path).constData(), &file) == 0 &&
        ::lstat(native(old).constData(), &kept) == 0 && file.st_dev == kept.st_dev &&
        file.st_ino == kept.st_ino) {
        removeEntry(old);
        return true;
    }
    const QFileInfo current(Path);
    // rename replaces a file in one step; a folder in the way has to go first.
    if (current.isDir() && !current.isSymLink())
        removeEntry(Path);
    renameEntry(old, Path);
    qInfo() << "restoreOldVersion" << Path << threadSuffix;
    return true;
}

bool removeOldVersion(const QString& Path)
{
    const QString old = oldVersionPath(Path);
    if (!occupied(old))
        return false;
    removeEntry(old);
    return true;
}

} // namespace orvik::launcher
