#pragma once

#include "publisher/build/filestamp.h"
#include "shared/filesystemhelper/filesize.h"

#include <QByteArray>
#include <QString>

namespace orvik::publisher {

// One regular file of a game build, as it will be listed in a document.
struct TBuildFile
{
    QString RelativePath; // with "/" separators, as the installation will name it
    // The bytes the file system knows it by, so that opening it never depends on the locale.
    QByteArray NativePath;
    TFileSize Size = 0;
    bool Executable = false;
    // As the file was when it was listed; reading it must find it unchanged.
    TFileStamp Stamp;
};

} // namespace orvik::publisher
