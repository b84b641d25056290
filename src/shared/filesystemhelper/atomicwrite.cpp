#include "shared/filesystemhelper/atomicwrite.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace shared {

const QString kInterruptedWriteMarker = QStringLiteral(".tmp-");

namespace {

constexpr int kRandomLength = 6;
constexpr int kNameAttempts = 100;

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

QString randomSuffix()
{
    static const char alphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    QString suffix;
    for (int i = 0; i < kRandomLength; ++i)
        suffix +=
            QLatin1Char(alphabet[QRandomGenerator::global()->bounded(int(sizeof alphabet) - 1)]);
    return suffix;
}

// A descriptor that is closed once, with the result of close checked by the owner.
class TDescriptor
{
public:
    explicit TDescriptor(int descriptor) : m_Descriptor(descriptor) {}
    ~TDescriptor()
    {
        if (m_Descriptor >= 0)
            ::close(m_Descriptor);
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;

    int get() const { return m_Descriptor; }
    // The error number of a failed close, 0 on success.
    int close()
    {
        const int result = ::close(m_Descriptor);
        m_Descriptor = -1;
        return result == 0 ? 0 : errno;
    }

private:
    int m_Descriptor;
};

void writeAll(int descriptor, const QByteArray& bytes, const QString& temporaryPath)
{
    const char* data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(descriptor, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ioError(temporaryPath, systemReason(written < 0 ? errno : ENOSPC));
        data += written;
        left -= written;
    }
}

// The rename is only durable once the directory entry itself has reached the disk. A directory
// that cannot be synced (some network file systems) still holds a complete file.
void syncDirectory(const QString& directory)
{
    const int descriptor =
        ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

} // namespace

bool hasTemporarySuffix(const QString& fileName, const QString& marker)
{
    const int at = fileName.lastIndexOf(marker);
    return at > 0 && fileName.size() - at - marker.size() == kRandomLength;
}

void replaceFileAtomically(const QString& path, const QByteArray& bytes)
{
    QString temporaryPath;
    int descriptor = -1;
    for (int attempt = 0; attempt < kNameAttempts && descriptor < 0; ++attempt) {
        temporaryPath = path + kInterruptedWriteMarker + randomSuffix();
        // Created afresh (O_EXCL): a link planted at the temporary name is never followed.
        // The mode gives what a plain write would give under the user's umask.
        descriptor = ::open(QFile::encodeName(temporaryPath).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (descriptor < 0 && errno != EEXIST)
            throw ioError(path, systemReason(errno));
    }
    if (descriptor < 0)
        throw ioError(path, QStringLiteral("Could not create a temporary file."));

    TDescriptor file(descriptor);
    try {
        writeAll(file.get(), bytes, temporaryPath);
        if (::fsync(file.get()) != 0)
            throw ioError(temporaryPath, systemReason(errno));
        if (const int error = file.close())
            throw ioError(temporaryPath, systemReason(error));
        // rename replaces a link at path by the file instead of writing through it.
        if (::rename(QFile::encodeName(temporaryPath).constData(),
                     QFile::encodeName(path).constData()) != 0)
            throw ioError(path, systemReason(errno));
    } catch (...) {
        ::unlink(QFile::encodeName(temporaryPath).constData());
        throw;
    }
    syncDirectory(QFileInfo(path).absolutePath());
}

} // namespace shared
