#include "sampledata.h"

#include "shared/container/containercodec.h"
#include "shared/container/containerdecoder.h"
#include "shared/container/containerheader.h"
#include "shared/container/containerwriter.h"

#include <QProcess>
#include <QStandardPaths>
#include <QtTest>

using shared::EContainerCodec;

Q_DECLARE_METATYPE(shared::EContainerCodec)

namespace {

const int kSizes[] = {1, 64 * 1024 + 1, 16 * 1024 * 1024};

const EContainerCodec kCodecs[] = {EContainerCodec::Stored,    EContainerCodec::Deflate,
                                   EContainerCodec::Lzip,      EContainerCodec::Lzma,
                                   EContainerCodec::LzmaAlias, EContainerCodec::Zpaq,
                                   EContainerCodec::Zstd};

QByteArray container(unsigned codecId, quint64 unpackedSize, const QByteArray& payload)
{
    QByteArray bytes;
    bytes.append(char(0x70));
    bytes.append(static_cast<char>(codecId));
    shared::appendContainerVarint(bytes, unpackedSize);
    shared::appendContainerVarint(bytes, static_cast<quint64>(payload.size()));
    return bytes + payload;
}

int fastestLevel(EContainerCodec codec)
{
    switch (codec) {
    case EContainerCodec::Zpaq:
    case EContainerCodec::Zstd:
        return 1;
    case EContainerCodec::Stored:
        return -1;
    default:
        return 0;
    }
}

QByteArray payloadOf(const QByteArray& bytes)
{
    shared::TContainerHeader header;
    if (shared::readContainerHeader(bytes, header) != shared::EContainerHeaderStatus::Valid) {
        return {};
    }
    return bytes.mid(static_cast<int>(header.m_nPayloadOffset));
}

// Runs a tool with data on standard input and returns its standard output; *succeeded tells
// whether it ran and exited with 0.
QByteArray runTool(const QString& program, const QStringList& arguments, const QByteArray& input,
                   bool* succeeded)
{
    *succeeded = false;
    if (QStandardPaths::findExecutable(program).isEmpty()) {
        qWarning() << program << "is missing: scripts/install-deps.sh installs it";
        return {};
    }
    QProcess process;
    process.start(program, arguments);
    process.write(input);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) {
        return {};
    }
    *succeeded = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    if (!*succeeded) {
        qWarning() << program << arguments << process.readAllStandardError();
    }
    return process.readAllStandardOutput();
}

} // namespace

class TContainerRoundTripTest : public QObject
{
    Q_OBJECT

private slots:
    void writtenContainersDecodeToTheirData_data();
    void writtenContainersDecodeToTheirData();
    void containersOfIndependentToolsDecode_data();
    void containersOfIndependentToolsDecode();
    void writtenStreamsPassTheToolsTests_data();
    void writtenStreamsPassTheToolsTests();
};

void TContainerRoundTripTest::writtenContainersDecodeToTheirData_data()
{
    QTest::addColumn<EContainerCodec>("codec");
    QTest::addColumn<int>("size");
    for (const EContainerCodec codec : kCodecs) {
        for (const int size : kSizes) {
            QTest::addRow("codec %d, %d bytes", int(codec), size) << codec << size;
        }
    }
}

// Catches codecs that lose or add bytes at block and buffer boundaries, writers whose output
// differs between runs, and containers that only look right to the strict decode.
void TContainerRoundTripTest::writtenContainersDecodeToTheirData()
{
    QFETCH(EContainerCodec, codec);
    QFETCH(int, size);
    const QByteArray data = containertest::sampleData(size, static_cast<unsigned>(size));

    // The strongest settings cost minutes on the largest size without testing anything more.
    const int level = size > 1024 * 1024 ? fastestLevel(codec) : shared::kContainerDefaultLevel;
    const QByteArray packed = shared::makeContainer(data, codec, level);
    QCOMPARE(static_cast<unsigned char>(packed[1]), static_cast<unsigned char>(codec));
    QVERIFY(shared::isPackedContainer(packed));
    QCOMPARE(shared::makeContainer(data, codec, level), packed);
    QCOMPARE(shared::decodeContainerStrict(packed), data);
    QCOMPARE(shared::decodeContainerLenient(packed), data);
}

void TContainerRoundTripTest::containersOfIndependentToolsDecode_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<unsigned>("codecId");
    QTest::addColumn<int>("size");
    for (const int size : kSizes) {
        QTest::addRow("xz lzma, %d bytes", size)
            << "xz" << QStringList{"--format=lzma", "-0", "-c"} << 5u << size;
        QTest::addRow("xz lzma as id 10, %d bytes", size)
            << "xz" << QStringList{"--format=lzma", "-1", "-c"} << 10u << size;
        QTest::addRow("lzip, %d bytes", size) << "lzip" << QStringList{"-0", "-c"} << 4u << size;
        QTest::addRow("lzip -9, %d bytes", size) << "lzip" << QStringList{"-9", "-c"} << 4u << size;
        QTest::addRow("zstd --long, %d bytes", size)
            << "zstd" << QStringList{"-3", "--long=27", QString("--stream-size=%1").arg(size), "-c"}
            << 8u << size;
    }
}

// Catches a reader that only understands what our own writer produces.
void TContainerRoundTripTest::containersOfIndependentToolsDecode()
{
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(unsigned, codecId);
    QFETCH(int, size);
    const QByteArray data = containertest::sampleData(size, 7);

    bool succeeded = false;
    const QByteArray payload = runTool(program, arguments, data, &succeeded);
    QVERIFY(succeeded);
    QCOMPARE(shared::decodeContainerStrict(container(codecId, quint64(size), payload)), data);
}

void TContainerRoundTripTest::writtenStreamsPassTheToolsTests_data()
{
    QTest::addColumn<EContainerCodec>("codec");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("size");
    for (const int size : kSizes) {
        QTest::addRow("lzip member, %d bytes", size)
            << EContainerCodec::Lzip << "lzip" << QStringList{"-t"} << size;
        QTest::addRow("lzma stream, %d bytes", size)
            << EContainerCodec::Lzma << "xz" << QStringList{"--format=lzma", "-t"} << size;
        QTest::addRow("zstd frame, %d bytes", size)
            << EContainerCodec::Zstd << "zstd" << QStringList{"-t"} << size;
    }
}

// Catches a writer whose payload only our own lenient reading accepts (bad trailer, sizes or
// dictionary coding).
void TContainerRoundTripTest::writtenStreamsPassTheToolsTests()
{
    QFETCH(EContainerCodec, codec);
    QFETCH(QString, program);
    QFETCH(QStringList, arguments);
    QFETCH(int, size);
    const QByteArray data = containertest::sampleData(size, 11);

    const QByteArray payload = payloadOf(shared::makeContainer(data, codec, fastestLevel(codec)));
    bool succeeded = false;
    runTool(program, arguments, payload, &succeeded);
    QVERIFY(succeeded);
    // The tool's own output proves the content too, not only the framing.
    arguments.replace(arguments.indexOf("-t"), "-dc");
    QCOMPARE(runTool(program, arguments, payload, &succeeded), data);
    QVERIFY(succeeded);
}

QTEST_GUILESS_MAIN(TContainerRoundTripTest)
#include "tst_containerroundtrip.moc"
