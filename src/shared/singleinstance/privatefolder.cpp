#include "shared/singleinstance/privatefolder.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace shared {

namespace {

QString systemReason()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The runtime folder, when it is this user's and others cannot write in it. One left over from
// another user (su keeps the variable) or opened to all is no place for a private folder.
QString runtimeFolder()
{
    const QByteArray path = qgetenv("XDG_RUNTIME_DIR");
    struct stat status = {};
    if (path.isEmpty() || ::stat(path.constData(), &status) != 0 || !S_ISDIR(status.st_mode) ||
        status.st_uid != ::geteuid() || (status.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return {};
    return QFile::decodeName(path);
}

// Through a descriptor of the folder itself, so that a link put in its place between the checks
// and the change of its mode changes nothing else.
QString closeToOthers(const QString& Path)
{
    const int descriptor = ::open(QFile::encodeName(Path).constData(),
                                  O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return QStringLiteral("%1 cannot be opened as a folder: %2").arg(Path, systemReason());
    struct stat status = {};
    QString problem;
    if (::fstat(descriptor, &status) != 0)
        problem = QStringLiteral("%1 cannot be examined: %2").arg(Path, systemReason());
    else if (status.st_uid != ::geteuid())
        problem = QStringLiteral("%1 belongs to user %2").arg(Path).arg(status.st_uid);
    else if ((status.st_mode & 077) != 0 && ::fchmod(descriptor, 0700) != 0)
        problem =
            QStringLiteral("%1 cannot be closed to other users: %2").arg(Path, systemReason());
    if (::close(descriptor) != 0 && problem.isEmpty())
        problem = QStringLiteral("%1 cannot be closed: %2").arg(Path, systemReason());
    return problem;
}

} // namespace

TPrivateFolder makePrivateFolder(const QString& Name)
{
    QString parent = runtimeFolder();
    if (parent.isEmpty()) {
        parent = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        if (!QDir().mkpath(parent))
            return {{}, QStringLiteral("%1 cannot be created").arg(parent)};
    }
    const QString path = parent + QLatin1Char('/') + Name;
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
        return {{}, QStringLiteral("%1 cannot be created: %2").arg(path, systemReason())};
    if (const QString problem = closeToOthers(path); !problem.isEmpty())
        return {{}, problem};
    return {path, {}};
}

} // namespace shared
