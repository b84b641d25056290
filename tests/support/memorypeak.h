#pragma once

#include <QtGlobal>

namespace testsupport {

// What no answer of a server may make the launcher hold, however long it is.
constexpr qint64 kMemoryCeilingKiB = 300 * 1024;

// The peak resident memory of a process in KiB (VmHWM): this process when ProcessId is 0; 0 when
// the process is gone.
qint64 peakResidentKiB(qint64 ProcessId = 0);
// Starts this process's peak afresh, so a test measures what it does itself, not what earlier
// tests of the same executable did.
bool resetPeakResident();

} // namespace testsupport
