#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace systemsurvey {

struct TMonitor
{
    quint64 width = 0;
    quint64 height = 0;
    bool primary = false;
    // Hz, without its fraction.
    quint64 refreshRate = 0;
};

struct TProcessor
{
    QString manufacturer;
    QString brandName;
    bool is64Bit = false;
    bool sse = false;
    bool sse2 = false;
    quint64 numaNodeCount = 0;
    quint64 physicalProcessorCount = 0;
    quint64 coresPerProcessor = 0;
    quint64 logicalProcessorCount = 0;
    // MHz
    double clockSpeed = 0;
};

struct TGraphicsAdapter
{
    QString deviceString;
    quint64 videoMemorySize = 0;
    quint32 vendorId = 0;
    quint32 deviceId = 0;
    QString driverVersion;
};

struct TOperatingSystem
{
    QString baseSystem;
    QString name;
    QString release;
};

// The counts of the processor topology, as far as "/proc/cpuinfo" tells them.
struct TCpuTopology
{
    quint64 numaNodeCount = 0;
    quint64 physicalProcessorCount = 0;
    quint64 coresPerProcessor = 0;
    quint64 logicalProcessorCount = 0;
};

// One measurement of the machine, anonymous by construction: nothing here names the player.
struct TSystemSurvey
{
    std::vector<TMonitor> monitors;
    QString baseSystem;
    QString systemName;
    QString release;
    // bytes
    quint64 mainMemorySize = 0;
    TProcessor processor;
    std::vector<TGraphicsAdapter> graphics;
};

} // namespace systemsurvey
