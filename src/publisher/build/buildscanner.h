#pragma once

#include "publisher/build/buildfile.h"

#include <QStringList>

#include <vector>

namespace orvik::publisher {

// What to do with symbolic links that lead nowhere, such as links to files of other packages
// that the build does not carry.
enum class EBrokenLinks { Refuse, Skip };

struct TBuildScan
{
    std::vector<TBuildFile> Files;
    QStringList SkippedLinks; // relative paths, only with EBrokenLinks::Skip
};

// Every regular file below the build directory, sorted by relative path the way the launcher
// sorts its file list. Symbolic links are followed only while they stay inside the directory.
// Throws TPublisherError for a missing directory, a folder or file that cannot be read, a name
// that is not UTF-8 and links that leave or (unless skipped) lead nowhere, naming every such link.
TBuildScan scanBuildDirectory(const QString& buildDirectory,
                              EBrokenLinks brokenLinks = EBrokenLinks::Refuse);

} // namespace orvik::publisher
