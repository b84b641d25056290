#pragma once

#include "shared/filesystemhelper/filesize.h"

#include <QtGlobal>

namespace orvik::launcher {

enum class EChunkReuseState : qint32 {
    NotFound = 0,
    AtCorrectPosition = 1,
    AtWrongPosition = 2,
};

// What the planning knows about one wanted chunk of a chunked file: whether the old local content
// holds it, and where its bytes are until they are moved into place.
struct TChunkReuseRecord
{
    EChunkReuseState State = EChunkReuseState::NotFound;
    // In the local file, or in the temporary file once SavedToTemporaryFile is set.
    TFileSize SourceOffset = 0;
    TFileSize TargetOffset = 0;
    TFileSize Size = 0;
    bool SavedToTemporaryFile = false;
};

} // namespace orvik::launcher
