#pragma once

#include "launcher/installation/chunkreuserecord.h"

#include <QString>

#include <vector>

namespace orvik::launcher {

// Chunks displaced while a file is rearranged wait in "<file>.reuse-XXXXXX" beside it.
inline const QString kReuseMarker = QStringLiteral(".reuse-");

// Moves the chunks found at wrong positions of a local file to where the new file wants them,
// inside the file itself. A chunk whose old place a move would overwrite is first saved to a
// temporary file beside the file. The file is then cut to the wanted size.
// Returns the positions of the chunks that are still missing. Throws std::runtime_error on any
// read or write failure; the file is then in an unknown state and must be fetched whole.
std::vector<int> rearrangeChunksInPlace(const QString& Path,
                                        std::vector<TChunkReuseRecord>& Records,
                                        TFileSize WantedSize);

} // namespace orvik::launcher
