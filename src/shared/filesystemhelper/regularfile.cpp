#include "shared/filesystemhelper/regularfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace shared {

bool isRegularFile(const QString& Path)
{
    struct stat status = {};
    return ::lstat(QFile::encodeName(Path).constData(), &status) == 0 && S_ISREG(status.st_mode);
}

bool openRegularFileForReading(QFile& File)
{
    const QByteArray path = QFile::encodeName(File.fileName());
    struct stat status = {};
    if (::stat(path.constData(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    // Checked again on what was opened: a FIFO put there meanwhile must not hold the open, and
    // without O_NONBLOCK opening one waits for a writer.
    const int descriptor = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0)
        return false;
    const int flags = ::fcntl(descriptor, F_GETFL);
    if (::fstat(descriptor, &status) != 0 || !S_ISREG(status.st_mode) || flags < 0 ||
        ::fcntl(descriptor, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        !File.open(descriptor, QIODevice::ReadOnly | QIODevice::Unbuffered,
                   QFileDevice::AutoCloseHandle)) {
        ::close(descriptor);
        return false;
    }
    return true;
}

qint64 TStoppableFile::readData(char* Data, qint64 MaxSize)
{
    if (m_Stop) {
        setErrorString(QStringLiteral("Reading stopped: the program is ending."));
        return -1;
    }
    return QFile::readData(Data, MaxSize);
}

} // namespace shared
