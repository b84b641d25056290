#include "systemsurvey/systemsurveyvalueretriever.h"

#include "systemsurvey/cpuinfofile.h"

#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>

#include <unistd.h>

namespace systemsurvey {

namespace {

constexpr quint32 kExtendedLeaves = 0x80000000;
constexpr quint32 kFirstBrandLeaf = 0x80000002;
constexpr quint32 kLastBrandLeaf = 0x80000004;

std::vector<TScreenDescription> screensKnownToQt()
{
    std::vector<TScreenDescription> result;
    // A program without a GUI application has no screens to ask about.
    if (!qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        return result;
    const QScreen* primary = QGuiApplication::primaryScreen();
    for (const QScreen* screen : QGuiApplication::screens())
        result.push_back({screen->geometry(), screen->refreshRate(), screen == primary});
    return result;
}

void appendRegister(QByteArray& Bytes, quint32 Register)
{
    for (int shift = 0; shift < 32; shift += 8)
        Bytes.append(char((Register >> shift) & 0xff));
}

bool bit(quint32 Register, int Index)
{
    return (Register >> Index) & 1u;
}

} // namespace

TSystemSources TSystemSources::ofThisMachine()
{
    TSystemSources sources;
    sources.cpuid = executeCpuid;
    sources.cpuinfoPath = QStringLiteral("/proc/cpuinfo");
    sources.screens = screensKnownToQt;
    sources.releasePrograms =
        QStringList{QStringLiteral("lsb_release"), QStringLiteral("lsb-release")};
    return sources;
}

TSystemSurveyValueRetriever::TSystemSurveyValueRetriever()
    : m_Sources(TSystemSources::ofThisMachine())
{}

TSystemSurveyValueRetriever::TSystemSurveyValueRetriever(TSystemSources Sources)
    : m_Sources(std::move(Sources))
{}

TSystemSurveyValueRetriever::~TSystemSurveyValueRetriever() = default;

std::vector<TMonitor> TSystemSurveyValueRetriever::getMonitors() const
{
    std::vector<TMonitor> monitors;
    for (const TScreenDescription& screen : m_Sources.screens()) {
        TMonitor monitor;
        monitor.width = quint64(std::max(0, screen.geometry.width()));
        monitor.height = quint64(std::max(0, screen.geometry.height()));
        monitor.primary = screen.primary;
        monitor.refreshRate = screen.refreshRate > 0 ? quint64(screen.refreshRate) : 0;
        monitors.push_back(monitor);
    }
    return monitors;
}

TProcessor TSystemSurveyValueRetriever::getCpuInfo() const
{
    TProcessor processor;
    const TCpuidRegisters vendorLeaf = m_Sources.cpuid(0);
    QByteArray vendor;
    appendRegister(vendor, vendorLeaf.ebx);
    appendRegister(vendor, vendorLeaf.edx);
    appendRegister(vendor, vendorLeaf.ecx);
    processor.manufacturer = manufacturerOfVendor(vendor);

    const quint32 highestExtendedLeaf = m_Sources.cpuid(kExtendedLeaves).eax;
    if (highestExtendedLeaf >= kLastBrandLeaf) {
        QByteArray brand;
        for (quint32 leaf = kFirstBrandLeaf; leaf <= kLastBrandLeaf; ++leaf) {
            const TCpuidRegisters part = m_Sources.cpuid(leaf);
            appendRegister(brand, part.eax);
            appendRegister(brand, part.ebx);
            appendRegister(brand, part.ecx);
            appendRegister(brand, part.edx);
        }
        const int end = brand.indexOf('\0');
        processor.brandName = QString::fromLatin1(end < 0 ? brand : brand.left(end)).simplified();
    } else {
        processor.brandName = QStringLiteral("Acquiring Brand Name not supported");
    }
    processor.is64Bit =
        highestExtendedLeaf > kExtendedLeaves && bit(m_Sources.cpuid(kExtendedLeaves + 1).edx, 29);
    const TCpuidRegisters features = m_Sources.cpuid(1);
    processor.sse = bit(features.edx, 25);
    processor.sse2 = bit(features.edx, 26);

    const TCpuTopology topology = getCpuTopology();
    processor.numaNodeCount = topology.numaNodeCount;
    processor.physicalProcessorCount = topology.physicalProcessorCount;
    processor.coresPerProcessor = topology.coresPerProcessor;
    processor.logicalProcessorCount = topology.logicalProcessorCount;
    processor.clockSpeed = getClockSpeed();
    return processor;
}

TOperatingSystem TSystemSurveyValueRetriever::getOperatingSystemInfo() const
{
    TOperatingSystem system;
    system.baseSystem = QStringLiteral("Linux");
    system.name = runReleaseProgram(QStringLiteral("-i"));
    system.release = runReleaseProgram(QStringLiteral("-r"));
    return system;
}

QString TSystemSurveyValueRetriever::runReleaseProgram(const QString& Option) const
{
    QProcess process;
    const QStringList arguments{QStringLiteral("-s"), Option};
    for (const QString& program : m_Sources.releasePrograms) {
        process.start(program, arguments, QIODevice::ReadOnly);
        if (process.waitForStarted(m_Sources.commandTimeoutMs))
            break;
    }
    if (process.state() == QProcess::NotRunning && process.error() == QProcess::FailedToStart)
        return QString();
    if (!process.waitForFinished(m_Sources.commandTimeoutMs)) {
        // What it said so far is all there will be; it must not outlive the survey.
        process.kill();
        process.waitForFinished(m_Sources.commandTimeoutMs);
    }
    return QString::fromLocal8Bit(process.readAllStandardOutput()).simplified();
}

quint64 TSystemSurveyValueRetriever::getMainMemorySize() const
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    if (pages == -1 || pageSize == -1)
        return 0;
    return quint64(pages) * quint64(pageSize);
}

TCpuTopology TSystemSurveyValueRetriever::getCpuTopology() const
{
    QFile file(m_Sources.cpuinfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return TCpuTopology();
    return parseCpuTopology(file.readAll());
}

double TSystemSurveyValueRetriever::getClockSpeed() const
{
    QFile file(m_Sources.cpuinfoPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return parseClockSpeed(file.readAll());
}

std::vector<TGraphicsAdapter> TSystemSurveyValueRetriever::getGpus() const
{
    // Nothing on this platform tells the adapter without a graphics context; the service
    // expects one entry all the same.
    TGraphicsAdapter adapter;
    adapter.deviceString = QStringLiteral("not implemented");
    return {adapter};
}

} // namespace systemsurvey
