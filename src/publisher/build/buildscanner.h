#pragma once

#include "publisher/build/buildfile.h"

#include <vector>

namespace orvik::publisher {

// Every regular file below the build directory, sorted by relative path the way the launcher
// sorts its file list. Symbolic links are followed only while they stay inside the directory.
// Throws TPublisherError for a missing directory, an unreadable file or a link that leaves.
std::vector<TBuildFile> scanBuildDirectory(const QString& buildDirectory);

} // namespace orvik::publisher
