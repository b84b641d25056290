#include "shared/filesystemhelper/filereplacement.h"

#include "shared/filesystemhelper/ioerror.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace shared {

const QString kInterruptedWriteMarker = QStringLiteral(".tmp-");

namespace {

constexpr int kRandomLength = 6;
constexpr int kNameAttempts = 100;

QString systemReason(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

QByteArray native(const QString& Path)
{
    return QFile::encodeName(Path);
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

mode_t modeOf(QFileDevice::Permissions Permissions)
{
    const std::pair<QFileDevice::Permission, mode_t> bits[] = {
        {QFileDevice::ReadOwner, S_IRUSR},  {QFileDevice::WriteOwner, S_IWUSR},
        {QFileDevice::ExeOwner, S_IXUSR},   {QFileDevice::ReadGroup, S_IRGRP},
        {QFileDevice::WriteGroup, S_IWGRP}, {QFileDevice::ExeGroup, S_IXGRP},
        {QFileDevice::ReadOther, S_IROTH},  {QFileDevice::WriteOther, S_IWOTH},
        {QFileDevice::ExeOther, S_IXOTH}};
    mode_t mode = 0;
    for (const auto& [permission, bit] : bits)
        if (Permissions.testFlag(permission))
            mode |= bit;
    return mode;
}

// A descriptor that is closed once, with the result of close checked by the owner.
class TDescriptor
{
public:
    explicit TDescriptor(int Descriptor) : m_Descriptor(Descriptor) {}
    ~TDescriptor()
    {
        if (m_Descriptor >= 0)
            ::close(m_Descriptor);
    }
    TDescriptor(TDescriptor&& Other) noexcept : m_Descriptor(std::exchange(Other.m_Descriptor, -1))
    {}
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

// Creates the temporary file of Path; Permissions, when given, hold whatever the umask says.
TDescriptor createTemporary(const QString& Path,
                            const std::optional<QFileDevice::Permissions>& Permissions,
                            QString& TemporaryPath)
{
    // Without fixed permissions, what a plain write would give under the user's umask.
    const mode_t mode = Permissions ? modeOf(*Permissions) : 0666;
    int descriptor = -1;
    for (int attempt = 0; attempt < kNameAttempts && descriptor < 0; ++attempt) {
        TemporaryPath = Path + kInterruptedWriteMarker + randomSuffix();
        descriptor = ::open(native(TemporaryPath).constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
        if (descriptor < 0 && errno != EEXIST)
            throw ioError(Path, systemReason(errno));
    }
    if (descriptor < 0)
        throw ioError(Path, QStringLiteral("Could not create a temporary file."));
    TDescriptor file(descriptor);
    if (Permissions && ::fchmod(file.get(), mode) != 0) {
        const int error = errno;
        ::unlink(native(TemporaryPath).constData());
        throw ioError(TemporaryPath, systemReason(error));
    }
    return file;
}

void writeAll(int Descriptor, const QByteArray& Bytes, const QString& TemporaryPath)
{
    const char* data = Bytes.constData();
    qint64 left = Bytes.size();
    while (left > 0) {
        const ssize_t written = ::write(Descriptor, data, size_t(left));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw ioError(TemporaryPath, systemReason(written < 0 ? errno : ENOSPC));
        data += written;
        left -= written;
    }
}

void renameOrThrow(const QString& From, const QString& To)
{
    // rename replaces a link at To by the file instead of writing through it.
    if (::rename(native(From).constData(), native(To).constData()) != 0)
        throw ioError(To, systemReason(errno));
}

} // namespace

bool hasTemporarySuffix(const QString& FileName, const QString& Marker)
{
    const int at = FileName.lastIndexOf(Marker);
    return at > 0 && FileName.size() - at - Marker.size() == kRandomLength;
}

void syncDirectory(const QString& Directory)
{
    const int descriptor =
        ::open(native(Directory).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0)
        return;
    ::fsync(descriptor);
    ::close(descriptor);
}

namespace {

// The one road of every replacement: a temporary file beside Path that Fill writes, made
// durable as asked, renamed over Path; removed again when anything fails.
void replaceWith(const QString& Path, const TReplacementOptions& Options,
                 const std::function<void(int Descriptor, const QString& TemporaryPath)>& Fill)
{
    QString temporaryPath;
    TDescriptor file = createTemporary(Path, Options.Permissions, temporaryPath);
    try {
        Fill(file.get(), temporaryPath);
        if (Options.Durability == EDurability::Synced && ::fsync(file.get()) != 0)
            throw ioError(temporaryPath, systemReason(errno));
        if (const int error = file.close())
            throw ioError(temporaryPath, systemReason(error));
        renameOrThrow(temporaryPath, Path);
    } catch (...) {
        ::unlink(native(temporaryPath).constData());
        throw;
    }
    if (Options.Durability == EDurability::Synced)
        syncDirectory(QFileInfo(Path).absolutePath());
}

} // namespace

void replaceFileAtomically(const QString& Path, const QByteArray& Bytes,
                           const TReplacementOptions& Options)
{
    replaceWith(Path, Options, [&Bytes](int Descriptor, const QString& TemporaryPath) {
        writeAll(Descriptor, Bytes, TemporaryPath);
    });
}

void copyFileAtomically(const QString& Source, const QString& Path)
{
    constexpr qint64 kPieceBytes = 1024 * 1024;
    QFile source(Source);
    if (!source.open(QIODevice::ReadOnly))
        throw ioError(Source, source.errorString());
    replaceWith(Path, {}, [&](int Descriptor, const QString& TemporaryPath) {
        QByteArray piece(int(kPieceBytes), Qt::Uninitialized);
        for (;;) {
            const qint64 read = source.read(piece.data(), kPieceBytes);
            if (read < 0)
                throw ioError(Source, source.errorString());
            if (read == 0)
                return;
            writeAll(Descriptor, QByteArray::fromRawData(piece.constData(), int(read)),
                     TemporaryPath);
        }
    });
}

QString createReplacementFile(const QString& Path, QFileDevice::Permissions Permissions)
{
    QString temporaryPath;
    TDescriptor file = createTemporary(Path, Permissions, temporaryPath);
    if (const int error = file.close()) {
        ::unlink(native(temporaryPath).constData());
        throw ioError(temporaryPath, systemReason(error));
    }
    return temporaryPath;
}

void putReplacementInPlace(const QString& TemporaryPath, const QString& Path)
{
    renameOrThrow(TemporaryPath, Path);
    syncDirectory(QFileInfo(Path).absolutePath());
}

void removeInterruptedWritesOf(const QString& Path)
{
    const QFileInfo info(Path);
    const QDir directory = info.absoluteDir();
    const QString pattern = info.fileName() + kInterruptedWriteMarker + QStringLiteral("??????");
    const QStringList names = directory.entryList(
        {pattern}, QDir::Files | QDir::Hidden | QDir::System | QDir::CaseSensitive);
    for (const QString& name : names) {
        const QString path = directory.filePath(name);
        qInfo() << "Removing left-over temporary file" << path;
        if (::unlink(native(path).constData()) != 0 && errno != ENOENT)
            throw ioError(path, systemReason(errno));
    }
}

} // namespace shared
