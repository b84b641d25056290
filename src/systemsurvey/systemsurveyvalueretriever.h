#pragma once

#include "systemsurvey/cpuid.h"
#include "systemsurvey/systemsurvey.h"

#include <QRect>
#include <QStringList>

#include <functional>
#include <vector>

namespace systemsurvey {

struct TScreenDescription
{
    QRect geometry;
    qreal refreshRate = 0;
    bool primary = false;
};

// Where the retriever looks. The machine's own sources by default; tests put in a processor,
// a cpuinfo file or screens of their choosing.
struct TSystemSources
{
    std::function<TCpuidRegisters(quint32 Leaf)> cpuid;
    QString cpuinfoPath;
    // The screens in Qt's order.
    std::function<std::vector<TScreenDescription>()> screens;
    // Asked for the distribution in this order; the next one only when one cannot be started.
    QStringList releasePrograms;
    // For starting a program and again for its answer.
    int commandTimeoutMs = 30000;

    static TSystemSources ofThisMachine();
};

// Measures one value of the machine at a time. Every operation may be replaced by a subclass;
// getCpuInfo asks getCpuTopology and getClockSpeed through the virtual table.
class TSystemSurveyValueRetriever
{
public:
    TSystemSurveyValueRetriever();
    explicit TSystemSurveyValueRetriever(TSystemSources Sources);
    virtual ~TSystemSurveyValueRetriever();

    virtual std::vector<TMonitor> getMonitors() const;
    virtual TProcessor getCpuInfo() const;
    // Blocks while the release program runs, within the time-outs of the sources.
    virtual TOperatingSystem getOperatingSystemInfo() const;
    virtual quint64 getMainMemorySize() const;
    virtual TCpuTopology getCpuTopology() const;
    virtual double getClockSpeed() const;
    virtual std::vector<TGraphicsAdapter> getGpus() const;

private:
    QString runReleaseProgram(const QString& Option) const;

    TSystemSources m_Sources;
};

} // namespace systemsurvey
