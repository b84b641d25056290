#pragma once

#include <QtGlobal>

namespace testsupport {

// The peak resident memory of a running process, from /proc; 0 once it is gone. Without an
// identifier, of the calling process.
qint64 highWaterMarkKiB(qint64 processId = 0);

} // namespace testsupport
