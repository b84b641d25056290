#pragma once

#include "systemsurvey/systemsurvey.h"

#include <QByteArray>

namespace systemsurvey {

// Reads the text of "/proc/cpuinfo". Each line is "key<tabs>: value"; a line counts for a key only
// when its key is exactly that, so a model name that happens to say "processor" counts nothing.

// Logical processors, distinct physical packages and the cores per package (last line wins);
// the NUMA node count is not in the file and stays 0.
TCpuTopology parseCpuTopology(const QByteArray& CpuInfo);
// The highest "cpu MHz" of all processors, 0 without one.
double parseClockSpeed(const QByteArray& CpuInfo);

} // namespace systemsurvey
