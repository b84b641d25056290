#include "systemsurvey/systemsurveyvalueretriever.h"

#include "testfiles.h"

#include <QGuiApplication>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <map>
#include <unistd.h>

using namespace systemsurvey;

namespace {

quint32 word(const QByteArray& Text, int Offset)
{
    quint32 value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | quint8(Text.at(Offset + i));
    return value;
}

// A processor as CPUID describes it: the vendor in leaf 0 (EBX, EDX, ECX), the features, the
// highest extended leaf and the brand text in the leaves 0x80000002 to 0x80000004.
std::map<quint32, TCpuidRegisters> processorLeaves(const QByteArray& Vendor, quint32 Highest,
                                                   QByteArray Brand)
{
    const quint32 sse = 1u << 25, sse2 = 1u << 26, longMode = 1u << 29;
    std::map<quint32, TCpuidRegisters> leaves{
        {0, {1, word(Vendor, 0), word(Vendor, 8), word(Vendor, 4)}},
        {1, {0, 0, 0, sse | sse2}},
        {0x80000000, {Highest, 0, 0, 0}},
        {0x80000001, {0, 0, 0, longMode}}};
    Brand.append(QByteArray(48 - Brand.size(), '\0'));
    for (int i = 0; i < 3; ++i)
        leaves[0x80000002 + i] = {word(Brand, 16 * i), word(Brand, 16 * i + 4),
                                  word(Brand, 16 * i + 8), word(Brand, 16 * i + 12)};
    return leaves;
}

// Two sockets of 8 cores with two threads each, as the kernel lists them.
QByteArray twoSocketsWithHyperThreading()
{
    QByteArray text;
    for (int processor = 0; processor < 32; ++processor)
        text += "processor\t: " + QByteArray::number(processor) +
                "\nmodel name\t: Intel(R) Xeon(R) CPU E5-2680 0 @ 2.70GHz\ncpu MHz\t\t: " +
                (processor == 17 ? "3100.250" : "1200.000") +
                "\nphysical id\t: " + QByteArray::number(processor / 16) +
                "\nsiblings\t: 16\ncpu cores\t: 8\n\n";
    return text;
}

} // namespace

class TestSystemSurveyValueRetriever : public QObject
{
    Q_OBJECT

private slots:
    void topologyAndClockFromCpuInfo_data()
    {
        QTest::addColumn<QByteArray>("cpuInfo"); // null: no file at all
        QTest::addColumn<QList<quint64>>("physicalCoresLogical");
        QTest::addColumn<double>("clockSpeed");
        QTest::newRow("two sockets, 8 cores, hyper-threading")
            << twoSocketsWithHyperThreading() << QList<quint64>{2, 8, 32} << 3100.25;
        // Counting every line that mentions "processor" would count the model name as well.
        QTest::newRow("model name says processor")
            << QByteArray("processor\t: 0\nmodel name\t: A processor\nphysical id\t: 0\n"
                          "cpu cores\t: 1\ncpu MHz\t\t: 800\n")
            << QList<quint64>{1, 1, 1} << 800.0;
        QTest::newRow("no file") << QByteArray() << QList<quint64>{0, 0, 0} << 0.0;
    }
    void topologyAndClockFromCpuInfo()
    {
        QFETCH(QByteArray, cpuInfo);
        TSystemSources sources = fakeSources({});
        if (!cpuInfo.isNull())
            QVERIFY(testsupport::writeBytes(sources.cpuinfoPath, cpuInfo));
        const TProcessor processor = TSystemSurveyValueRetriever(sources).getCpuInfo();
        QTEST((QList<quint64>{processor.physicalProcessorCount, processor.coresPerProcessor,
                              processor.logicalProcessorCount}),
              "physicalCoresLogical");
        QCOMPARE(processor.numaNodeCount, quint64(0));
        QTEST(processor.clockSpeed, "clockSpeed");
    }

    void processorFromCpuid_data()
    {
        QTest::addColumn<QByteArray>("vendor");
        QTest::addColumn<quint32>("highestExtendedLeaf");
        QTest::addColumn<QByteArray>("brand");
        QTest::addColumn<QString>("manufacturer");
        QTest::addColumn<QString>("brandName");
        QTest::addColumn<bool>("is64Bit");
        QTest::newRow("brand simplified, cut at its zero byte")
            << QByteArray("GenuineIntel") << 0x80000008u
            << QByteArray("    Intel(R)  Core(TM) i7 ") + '\0' + "junk"
            << "Intel"
            << "Intel(R) Core(TM) i7" << true;
        QTest::newRow("Xen keeps its leading blank")
            << QByteArray("XenVMMXenVMM") << 0x80000004u << QByteArray("Xen") << " Xen HVM"
            << "Xen" << true;
        // Leaf 0x80000001 is not there to ask, whatever it would say.
        QTest::newRow("no extended leaves")
            << QByteArray("AuthenticAMD") << 0x80000000u << QByteArray("unread") << "AMD"
            << "Acquiring Brand Name not supported" << false;
        QTest::newRow("unknown vendor") << QByteArray("HygonGenuine") << 0x80000004u
                                        << QByteArray("C86") << "Unknown Manufacturer"
                                        << "C86" << true;
    }
    void processorFromCpuid()
    {
        QFETCH(QByteArray, vendor);
        QFETCH(quint32, highestExtendedLeaf);
        QFETCH(QByteArray, brand);
        const TProcessor processor =
            TSystemSurveyValueRetriever(
                fakeSources(processorLeaves(vendor, highestExtendedLeaf, brand)))
                .getCpuInfo();
        QTEST(processor.manufacturer, "manufacturer");
        QTEST(processor.brandName, "brandName");
        QTEST(processor.is64Bit, "is64Bit");
        QVERIFY(processor.sse && processor.sse2);
    }

    void monitorsFromScreens()
    {
        TSystemSources sources = fakeSources({});
        sources.screens = [] {
            return std::vector<TScreenDescription>{{QRect(0, 0, 1920, 1080), 59.94, false},
                                                   {QRect(1920, -200, 2560, 1440), 144.0, true}};
        };
        const std::vector<TMonitor> monitors = TSystemSurveyValueRetriever(sources).getMonitors();
        QCOMPARE(monitors.size(), size_t(2));
        // The refresh rate loses its fraction.
        QCOMPARE((QList<quint64>{monitors[0].width, monitors[0].height, monitors[0].refreshRate}),
                 (QList<quint64>{1920, 1080, 59}));
        QCOMPARE((QList<quint64>{monitors[1].width, monitors[1].height, monitors[1].refreshRate}),
                 (QList<quint64>{2560, 1440, 144}));
        QCOMPARE(monitors[0].primary, false);
        QCOMPARE(monitors[1].primary, true);
    }

    void operatingSystemFromReleasePrograms_data()
    {
        QTest::addColumn<QStringList>("programs");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("release");
        QTest::newRow("first answers") << QStringList{"first", "second"} << "Kestrun Linux"
                                       << "12";
        QTest::newRow("second when the first is missing")
            << QStringList{"missing", "second"} << "Other"
            << "7";
        QTest::newRow("neither there") << QStringList{"missing", "missing"} << ""
                                       << "";
        // Ended at the time-out instead of blocking the launcher; what it said is kept.
        QTest::newRow("never ends") << QStringList{"hanging", "second"} << "partial"
                                    << "partial";
    }
    void operatingSystemFromReleasePrograms()
    {
        QFETCH(QStringList, programs);
        writeScript("first", "case $2 in -i) printf '  Kestrun \\t Linux \\n';; *) echo 12;; esac");
        writeScript("second", "case $2 in -i) echo Other;; *) echo 7;; esac");
        writeScript("hanging", "echo partial; exec sleep 60");
        TSystemSources sources = fakeSources({});
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

    void thisMachineIsPlausible()
    {
        const TSystemSurveyValueRetriever retriever;
        // Against the kernel's own count of processors and its memory total.
        QCOMPARE(retriever.getCpuTopology().logicalProcessorCount,
                 quint64(sysconf(_SC_NPROCESSORS_ONLN)));
        const QList<QByteArray> total =
            testsupport::readBytes("/proc/meminfo").split('\n').first().simplified().split(' ');
        QCOMPARE(total.first(), QByteArray("MemTotal:"));
        QCOMPARE(retriever.getMainMemorySize() / 1024, total.at(1).toULongLong());
        const TProcessor processor = retriever.getCpuInfo();
#if defined(__x86_64__)
        // Every x86-64 processor has long mode, SSE2 and the brand leaves.
        QVERIFY(processor.is64Bit && processor.sse2);
        QVERIFY(!processor.brandName.isEmpty());
        QVERIFY(processor.brandName != "Acquiring Brand Name not supported");
#endif
        const std::vector<TMonitor> monitors = retriever.getMonitors();
        QCOMPARE(int(monitors.size()), QGuiApplication::screens().size());
        QCOMPARE(int(std::count_if(monitors.begin(), monitors.end(),
                                   [](const TMonitor& m) { return m.primary; })),
                 1);
        if (!QStandardPaths::findExecutable("lsb_release").isEmpty())
            QVERIFY(!retriever.getOperatingSystemInfo().name.isEmpty());
    }

private:
    TSystemSources fakeSources(const std::map<quint32, TCpuidRegisters>& Leaves)
    {
        TSystemSources sources = TSystemSources::ofThisMachine();
        sources.cpuid = [Leaves](quint32 Leaf) {
            const auto it = Leaves.find(Leaf);
            return it == Leaves.end() ? TCpuidRegisters() : it->second;
        };
        sources.cpuinfoPath = m_Dir.filePath(QString::number(++m_Files));
        return sources;
    }
    void writeScript(const QString& Name, const QByteArray& Body)
    {
        const QString path = m_Dir.filePath(Name);
        QVERIFY(testsupport::writeBytes(path, "#!/bin/sh\n" + Body + "\n"));
        QVERIFY(QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner));
    }

    QTemporaryDir m_Dir;
    int m_Files = 0;
};

QTEST_MAIN(TestSystemSurveyValueRetriever)
#include "tst_systemsurveyvalueretriever.moc"
