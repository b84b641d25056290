#include "systemsurvey/cpuinfofile.h"

#include <QList>
#include <QSet>

#include <algorithm>

namespace systemsurvey {

namespace {

struct TEntry
{
    QByteArray key;
    QByteArray value;
};

QList<TEntry> entries(const QByteArray& CpuInfo)
{
    QList<TEntry> result;
    for (const QByteArray& line : CpuInfo.split('\n')) {
        const int colon = line.indexOf(':');
        if (colon < 0)
            continue;
        result.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
    }
    return result;
}

} // namespace

TCpuTopology parseCpuTopology(const QByteArray& CpuInfo)
{
    TCpuTopology topology;
    QSet<QByteArray> physicalIds;
    for (const TEntry& entry : entries(CpuInfo)) {
        if (entry.key == "processor") {
            ++topology.logicalProcessorCount;
        } else if (entry.key == "physical id") {
            physicalIds.insert(entry.value);
        } else if (entry.key == "cpu cores") {
            bool ok = false;
            const quint64 cores = entry.value.toULongLong(&ok);
            if (ok)
                topology.coresPerProcessor = cores;
        }
    }
    topology.physicalProcessorCount = quint64(physicalIds.size());
    return topology;
}

double parseClockSpeed(const QByteArray& CpuInfo)
{
    double fastest = 0;
    for (const TEntry& entry : entries(CpuInfo)) {
        if (entry.key != "cpu MHz")
            continue;
        bool ok = false;
        const double speed = entry.value.toDouble(&ok);
        if (ok)
            fastest = std::max(fastest, speed);
    }
    return fastest;
}

} // namespace systemsurvey
