#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>

#include <sys/types.h>

struct stat;

namespace orvik::publisher {

// What changes whenever a file's content may have changed: a rewrite in place keeps the size but
// moves the change time, a replacement brings another inode.
struct TFileStamp
{
    dev_t Device = 0;
    ino_t Inode = 0;
    TFileSize Size = 0;
    qint64 ModifiedNs = 0;
    qint64 ChangedNs = 0;

    bool operator==(const TFileStamp& other) const
    {
        return Device == other.Device && Inode == other.Inode && Size == other.Size &&
               ModifiedNs == other.ModifiedNs && ChangedNs == other.ChangedNs;
    }
    bool operator!=(const TFileStamp& other) const { return !(*this == other); }
};

TFileStamp stampOf(const struct stat& status);
// False when the file cannot be looked at; the path form follows symbolic links.
bool stampOfDescriptor(int descriptor, TFileStamp& stamp);
bool stampOfPath(const QByteArray& nativePath, TFileStamp& stamp);

} // namespace orvik::publisher
