#pragma once

#include <QtGlobal>

namespace testsupport {

// What no answer of a server may make the launcher hold, however long it is. AddressSanitizer
// keeps freed memory in a quarantine of up to 256 MiB before it reuses it, so a sanitized
// process may hold that much more; an unbounded answer still grows by gigabytes.
#if defined(__SANITIZE_ADDRESS__)
constexpr qint64 kMemoryCeilingKiB = (300 + 256) * 1024;
#else
constexpr qint64 kMemoryCeilingKiB = 300 * 1024;
#endif

// The peak resident memory of a process in KiB (VmHWM): this process when ProcessId is 0; 0 when
// the process is gone.
qint64 peakResidentKiB(qint64 ProcessId = 0);
// Starts this process's peak afresh, so a test measures what it does itself, not what earlier
// tests of the same executable did.
bool resetPeakResident();

} // namespace testsupport
