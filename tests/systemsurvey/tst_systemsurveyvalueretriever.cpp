#include "systemsurvey/systemsurveyvalueretriever.h"

#include "testfiles.h"

#include <QGuiApplication>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <unistd.h>

using namespace systemsurvey;

namespace {

using TLeaves = std::map<quint32, TCpuidRegisters>;

quint32 word(const char* Four)
{
    return quint32(quint8(Four[0])) | quint32(quint8(Four[1])) << 8 |
           quint32(quint8(Four[2])) << 16 | quint32(quint8(Four[3])) << 24;
}

// Leaf 0 as a processor reports the vendor: EBX, EDX, ECX.
TCpuidRegisters vendorLeaf(const QByteArray& Vendor)
{
    return {1, word(Vendor.constData()), word(Vendor.constData() + 8),
            word(Vendor.constData() + 4)};
}

// The brand leaves 0x80000002..4 for a text of at most 48 bytes, padded with zero bytes.
void addBrand(TLeaves& Leaves, QByteArray Brand)
{
    Brand.append(QByteArray(48 - Brand.size(), '\0'));
    for (int i = 0; i < 3; ++i) {
        const char* part = Brand.constData() + 16 * i;
        Leaves[0x80000002 + i] = {word(part), word(part + 4), word(part + 8), word(part + 12)};
    }
}

// Two sockets of 8 cores with two threads each, as a kernel lists them.
QByteArray twoSocketsWithHyperThreading()
{
    QByteArray text;
    for (int processor = 0; processor < 32; ++processor) {
        text += "processor\t: " + QByteArray::number(processor) + "\n";
        text += "vendor_id\t: GenuineIntel\n";
        text += "model name\t: Intel(R) Xeon(R) CPU E5-2680 0 @ 2.70GHz\n";
        text += "cpu MHz\t\t: " + QByteArray(processor == 17 ? "3100.250" : "1200.000") + "\n";
        text += "physical id\t: " + QByteArray::number(processor / 16) + "\n";
        text += "siblings\t: 16\n";
        text += "core id\t\t: " + QByteArray::number(processor % 8) + "\n";
        text += "cpu cores\t: 8\n\n";
    }
    return text;
}

TSystemSources fakeSources(const TLeaves& Leaves, const QString& CpuInfoPath)
{
    TSystemSources sources = TSystemSources::ofThisMachine();
    sources.cpuid = [Leaves](quint32 Leaf) {
        const auto it = Leaves.find(Leaf);
        return it == Leaves.end() ? TCpuidRegisters() : it->second;
    };
    sources.cpuinfoPath = CpuInfoPath;
    return sources;
}

// Reports topology and clock of its own, so the processor entry shows whether getCpuInfo asks
// them through the virtual table.
class TRetrieverWithOwnTopology : public TSystemSurveyValueRetriever
{
public:
    using TSystemSurveyValueRetriever::TSystemSurveyValueRetriever;
    TCpuTopology getCpuTopology() const override { return {3, 5, 7, 11}; }
    double getClockSpeed() const override { return 1234.5; }
};

} // namespace

class TestSystemSurveyValueRetriever : public QObject
{
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_Dir.isValid()); }

    void topologyAndClockFromCpuInfo_data()
    {
        QTest::addColumn<QByteArray>("cpuInfo");
        QTest::addColumn<quint64>("physical");
        QTest::addColumn<quint64>("cores");
        QTest::addColumn<quint64>("logical");
        QTest::addColumn<double>("clockSpeed");

        QTest::newRow("two sockets, 8 cores, hyper-threading")
            << twoSocketsWithHyperThreading() << quint64(2) << quint64(8) << quint64(32) << 3100.25;
        // Counting every line that mentions "processor" would count the model name too.
        QTest::newRow("model name says processor")
            << QByteArray("processor\t: 0\nmodel name\t: Some 64-bit processor\nphysical id\t: 0\n"
                          "cpu cores\t: 1\ncpu MHz\t\t: 800\n\n"
                          "processor\t: 1\nmodel name\t: Some 64-bit processor\nphysical id\t: 0\n"
                          "cpu cores\t: 1\ncpu MHz\t\t: 800\n")
            << quint64(1) << quint64(1) << quint64(2) << 800.0;
        // Some virtual machines and other architectures name neither packages nor cores.
        QTest::newRow("no package lines")
            << QByteArray(
                   "processor\t: 0\nBogoMIPS\t: 50.00\n\nprocessor\t: 1\nBogoMIPS\t: 50.00\n")
            << quint64(0) << quint64(0) << quint64(2) << 0.0;
        QTest::newRow("empty file")
            << QByteArray() << quint64(0) << quint64(0) << quint64(0) << 0.0;
    }
    void topologyAndClockFromCpuInfo()
    {
        QFETCH(QByteArray, cpuInfo);
        QFETCH(quint64, physical);
        QFETCH(quint64, cores);
        QFETCH(quint64, logical);
        QFETCH(double, clockSpeed);
        const QString path = m_Dir.filePath("cpuinfo");
        QVERIFY(testsupport::writeBytes(path, cpuInfo));

        const TSystemSurveyValueRetriever retriever(fakeSources({}, path));
        const TProcessor processor = retriever.getCpuInfo();
        QCOMPARE(processor.physicalProcessorCount, physical);
        QCOMPARE(processor.coresPerProcessor, cores);
        QCOMPARE(processor.logicalProcessorCount, logical);
        QCOMPARE(processor.numaNodeCount, quint64(0));
        QCOMPARE(processor.clockSpeed, clockSpeed);
    }

    void missingCpuInfoLeavesZeros()
    {
        const TSystemSurveyValueRetriever retriever(fakeSources({}, m_Dir.filePath("absent")));
        const TCpuTopology topology = retriever.getCpuTopology();
        QCOMPARE(topology.logicalProcessorCount, quint64(0));
        QCOMPARE(topology.physicalProcessorCount, quint64(0));
        QCOMPARE(retriever.getClockSpeed(), 0.0);
    }

    void processorFromCpuid_data()
    {
        QTest::addColumn<QByteArray>("vendor");
        QTest::addColumn<quint32>("highestExtendedLeaf");
        QTest::addColumn<QByteArray>("brand");
        QTest::addColumn<quint32>("leaf1Edx");
        QTest::addColumn<quint32>("extendedLeaf1Edx");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("brandName");
        QTest::addColumn<bool>("is64Bit");
        QTest::addColumn<bool>("sse");
        QTest::addColumn<bool>("sse2");

        const quint32 sseBoth = (1u << 25) | (1u << 26);
        const quint32 longMode = 1u << 29;
        QTest::newRow("Intel, brand simplified and cut at the zero byte")
            << QByteArray("GenuineIntel") << 0x80000008u
            << QByteArray("      Intel(R) Core(TM)   i7-9700K CPU") + '\0' + "junk" << sseBoth
            << longMode << "Intel"
            << "Intel(R) Core(TM) i7-9700K CPU" << true << true << true;
        QTest::newRow("Xen keeps its leading blank")
            << QByteArray("XenVMMXenVMM") << 0x80000004u << QByteArray("Xen CPU") << (1u << 25)
            << 0u << " Xen HVM"
            << "Xen CPU" << false << true << false;
        QTest::newRow("Vortex keeps its leading blank")
            << QByteArray("Vortex86 SoC") << 0x80000004u << QByteArray("Vortex86DX3") << 0u << 0u
            << " Vortex"
            << "Vortex86DX3" << false << false << false;
        // Leaf 0x80000001 is not there to ask, whatever it would say.
        QTest::newRow("no brand leaves, no 64-bit leaf")
            << QByteArray("AuthenticAMD") << 0x80000000u << QByteArray("never read") << sseBoth
            << longMode << "AMD"
            << "Acquiring Brand Name not supported" << false << true << true;
        QTest::newRow("brand leaves missing, 64-bit leaf present")
            << QByteArray("CentaurHauls") << 0x80000001u << QByteArray("never read") << 0u
            << longMode << "Centaur"
            << "Acquiring Brand Name not supported" << true << false << false;
        QTest::newRow("unknown vendor")
            << QByteArray("HygonGenuine") << 0x80000004u << QByteArray("Hygon C86") << 0u << 0u
            << "Unknown Manufacturer"
            << "Hygon C86" << false << false << false;
    }
    void processorFromCpuid()
    {
        QFETCH(QByteArray, vendor);
        QFETCH(quint32, highestExtendedLeaf);
        QFETCH(QByteArray, brand);
        QFETCH(quint32, leaf1Edx);
        QFETCH(quint32, extendedLeaf1Edx);
        TLeaves leaves;
        leaves[0] = vendorLeaf(vendor);
        leaves[1] = {0, 0, 0, leaf1Edx};
        leaves[0x80000000] = {highestExtendedLeaf, 0, 0, 0};
        leaves[0x80000001] = {0, 0, 0, extendedLeaf1Edx};
        addBrand(leaves, brand);

        const TSystemSurveyValueRetriever retriever(fakeSources(leaves, m_Dir.filePath("absent")));
        const TProcessor processor = retriever.getCpuInfo();
        QTEST(processor.manufacturer, "manufacturer");
        QTEST(processor.brandName, "brandName");
        QTEST(processor.is64Bit, "is64Bit");
        QTEST(processor.sse, "sse");
        QTEST(processor.sse2, "sse2");
    }

    void processorAsksTopologyThroughTheVirtualTable()
    {
        const TRetrieverWithOwnTopology retriever(fakeSources({}, m_Dir.filePath("absent")));
        const TProcessor processor = retriever.getCpuInfo();
        QCOMPARE(processor.numaNodeCount, quint64(3));
        QCOMPARE(processor.physicalProcessorCount, quint64(5));
        QCOMPARE(processor.coresPerProcessor, quint64(7));
        QCOMPARE(processor.logicalProcessorCount, quint64(11));
        QCOMPARE(processor.clockSpeed, 1234.5);
    }

    void monitorsFromScreens()
    {
        TSystemSources sources = fakeSources({}, QString());
        sources.screens = [] {
            return std::vector<TScreenDescription>{{QRect(0, 0, 1920, 1080), 59.94, false},
                                                   {QRect(1920, -200, 2560, 1440), 144.0, true}};
        };
        const std::vector<TMonitor> monitors = TSystemSurveyValueRetriever(sources).getMonitors();
        QCOMPARE(monitors.size(), size_t(2));
        QCOMPARE(monitors[0].width, quint64(1920));
        QCOMPARE(monitors[0].height, quint64(1080));
        QCOMPARE(monitors[0].primary, false);
        QCOMPARE(monitors[0].refreshRate, quint64(59)); // the fraction is dropped
        QCOMPARE(monitors[1].width, quint64(2560));
        QCOMPARE(monitors[1].height, quint64(1440));
        QCOMPARE(monitors[1].primary, true);
        QCOMPARE(monitors[1].refreshRate, quint64(144));
    }

    void operatingSystemFromReleasePrograms_data()
    {
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("release");

        QTest::newRow("first program answers") << QStringList{"first", "second"} << "Kestrun Linux"
                                               << "12";
        QTest::newRow("fallback when the first is missing")
            << QStringList{"missing", "second"} << "Other"
            << "7";
        QTest::newRow("neither there")
            << QStringList{"missing", "missing too"} << QString() << QString();
        // Its first words are kept; it is ended instead of blocking the launcher.
        QTest::newRow("program that never ends") << QStringList{"hanging", "second"} << "partial"
                                                 << "partial";
    }
    void operatingSystemFromReleasePrograms()
    {
        QFETCH(QStringList, programs);
        writeScript("first", "case \"$2\" in -i) printf '  Kestrun \\t Linux \\n';; "
                             "-r) echo 12;; esac");
        writeScript("second", "case \"$2\" in -i) echo Other;; -r) echo 7;; esac");
        writeScript("hanging", "[ \"$1\" = -s ] && echo partial; exec sleep 60");
        TSystemSources sources = fakeSources({}, QString());
        sources.releasePrograms.clear();
        for (const QString& program : programs)
            sources.releasePrograms << m_Dir.filePath(program);
        sources.commandTimeoutMs = 1000;

        const TOperatingSystem system =
            TSystemSurveyValueRetriever(sources).getOperatingSystemInfo();
        QCOMPARE(system.baseSystem, QString("Linux"));
        QTEST(system.name, "name");
        QTEST(system.release, "release");
    }

    void graphicsIsAFixedEntry()
    {
        const std::vector<TGraphicsAdapter> gpus = TSystemSurveyValueRetriever().getGpus();
        QCOMPARE(gpus.size(), size_t(1));
        QCOMPARE(gpus[0].deviceString, QString("not implemented"));
        QCOMPARE(gpus[0].videoMemorySize, quint64(0));
        QCOMPARE(gpus[0].vendorId, 0u);
        QCOMPARE(gpus[0].deviceId, 0u);
        QVERIFY(gpus[0].driverVersion.isEmpty());
    }

    void thisMachineIsPlausible()
    {
        const TSystemSurveyValueRetriever retriever;
        // The kernel's own count of processors and its total of memory.
        QCOMPARE(retriever.getCpuTopology().logicalProcessorCount,
                 quint64(sysconf(_SC_NPROCESSORS_ONLN)));
        const QByteArray memInfo = testsupport::readBytes("/proc/meminfo");
        const QByteArray totalLine = memInfo.left(memInfo.indexOf('\n'));
        QVERIFY2(totalLine.startsWith("MemTotal:"), totalLine);
        const quint64 totalKiB = totalLine.mid(9).trimmed().split(' ').first().toULongLong();
        QCOMPARE(retriever.getMainMemorySize() / 1024, totalKiB);

        const TProcessor processor = retriever.getCpuInfo();
#if defined(__x86_64__)
        // Every x86-64 processor has long mode, SSE2 and the brand leaves.
        QVERIFY(processor.is64Bit);
        QVERIFY(processor.sse2);
        QVERIFY(!processor.brandName.isEmpty());
        QVERIFY(processor.brandName != "Acquiring Brand Name not supported");
#endif
        QVERIFY(processor.clockSpeed >= 0);

        const std::vector<TMonitor> monitors = retriever.getMonitors();
        QCOMPARE(int(monitors.size()), QGuiApplication::screens().size());
        QCOMPARE(std::count_if(monitors.begin(), monitors.end(),
                               [](const TMonitor& monitor) { return monitor.primary; }),
                 std::ptrdiff_t(1));

        const TOperatingSystem system = retriever.getOperatingSystemInfo();
        if (!QStandardPaths::findExecutable("lsb_release").isEmpty())
            QVERIFY(!system.name.isEmpty());
        QVERIFY(!system.name.contains('\n'));
    }

private:
    void writeScript(const QString& Name, const QByteArray& Body)
    {
        const QString path = m_Dir.filePath(Name);
        QVERIFY(testsupport::writeBytes(path, "#!/bin/sh\n" + Body + "\n"));
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner));
    }

    QTemporaryDir m_Dir;
};

QTEST_MAIN(TestSystemSurveyValueRetriever)
#include "tst_systemsurveyvalueretriever.moc"
