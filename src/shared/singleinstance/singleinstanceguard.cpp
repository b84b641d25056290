#include "shared/singleinstance/singleinstanceguard.h"

#include "shared/singleinstance/privatefolder.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace shared {

namespace {

QString reason(int Error)
{
    return QString::fromLocal8Bit(std::strerror(Error));
}

void closeLock(int Descriptor)
{
    if (::close(Descriptor) != 0)
        qWarning() << "Closing the single-instance lock failed:" << reason(errno);
}

} // namespace

TSingleInstanceGuard::TSingleInstanceGuard(const QString& Key) : m_Key(Key) {}

TSingleInstanceGuard::~TSingleInstanceGuard()
{
    // The file stays: removing it would let a start that opened it before lock a file nobody
    // else can find.
    if (m_LockDescriptor >= 0)
        closeLock(m_LockDescriptor);
}

TSingleInstanceGuard::EOutcome TSingleInstanceGuard::acquire()
{
    if (m_LockDescriptor >= 0)
        return EOutcome::Acquired;
    const QByteArray digest =
        QCryptographicHash::hash(m_Key.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
    const TPrivateFolder folder =
        makePrivateFolder(QStringLiteral("kestrun-launcher-") + QString::fromLatin1(digest));
    m_Folder = folder.Path;
    if (m_Folder.isEmpty()) {
        m_ErrorString = folder.Problem;
        return EOutcome::Failed;
    }
    const QString path = m_Folder + QStringLiteral("/instance.lock");
    // Not inherited: a game client started from here would otherwise hold the lock on.
    const int descriptor = ::open(QFile::encodeName(path).constData(),
                                  O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        m_ErrorString = QStringLiteral("%1 cannot be opened: %2").arg(path, reason(errno));
        return EOutcome::Failed;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) == 0) {
        m_LockDescriptor = descriptor;
        return EOutcome::Acquired;
    }
    const int error = errno;
    closeLock(descriptor);
    if (error == EWOULDBLOCK)
        return EOutcome::AlreadyRunning;
    m_ErrorString = QStringLiteral("%1 cannot be locked: %2").arg(path, reason(error));
    return EOutcome::Failed;
}

} // namespace shared
