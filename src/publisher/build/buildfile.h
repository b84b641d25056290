#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QString>

namespace orvik::publisher {

// One regular file of a game build, as it will be listed in a document.
struct TBuildFile
{
    QString RelativePath; // with "/" separators, as the installation will name it
    QString AbsolutePath;
    TFileSize Size = 0;
    bool Executable = false;
};

} // namespace orvik::publisher
