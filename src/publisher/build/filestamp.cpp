#include "publisher/build/filestamp.h"

#include <sys/stat.h>

namespace orvik::publisher {

namespace {

qint64 nanoseconds(const struct timespec& time)
{
    return qint64(time.tv_sec) * 1000000000 + qint64(time.tv_nsec);
}

} // namespace

TFileStamp stampOf(const struct stat& status)
{
    TFileStamp stamp;
    stamp.Device = status.st_dev;
    stamp.Inode = status.st_ino;
    stamp.Size = TFileSize(status.st_size);
    stamp.ModifiedNs = nanoseconds(status.st_mtim);
    stamp.ChangedNs = nanoseconds(status.st_ctim);
    return stamp;
}

bool stampOfDescriptor(int descriptor, TFileStamp& stamp)
{
    struct stat status
    {
    };
    if (::fstat(descriptor, &status) != 0)
        return false;
    stamp = stampOf(status);
    return true;
}

bool stampOfPath(const QByteArray& nativePath, TFileStamp& stamp)
{
    struct stat status
    {
    };
    if (::stat(nativePath.constData(), &status) != 0)
        return false;
    stamp = stampOf(status);
    return true;
}

} // namespace orvik::publisher
