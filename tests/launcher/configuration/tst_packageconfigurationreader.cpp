#include "launcher/configuration/packageconfigurationreader.h"

#include <QtTest>

using namespace orvik::launcher;

namespace {

const QUrl kPackageBase("https://cdn.example/live/linux/");
const QUrl kAssetBase("https://assets.example/live/");
const QByteArray kHashA = "a1b2c3d4e5f60718293a4b5c6d7e8f90a1b2c3d4e5f60718293a4b5c6d7e8f90";
const QByteArray kHashB = "00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

TPackageConfigurationReader read(QByteArray package, QByteArray assets = {})
{
    return TPackageConfigurationReader(std::move(package), std::move(assets), kPackageBase,
                                       kAssetBase);
}

} // namespace

class TestPackageConfigurationReader : public QObject
{
    Q_OBJECT

private slots:
    void combinesBothDocuments()
    {
        const QByteArray package =
            "{\"version\": \"12\", \"executable\": \"bin/kestrun\", \"generation\": \"second\","
            "\"variant\": \"beta\", \"parameters\": [\"--fullscreen\", 5, \"-x\"],"
            "\"chunks\": [{\"url\": \"c/0\", \"packedsize\": 10, \"unpackedsize\": \"5000000000\","
            "\"packedhash\": \"" +
            kHashA + "\", \"unpackedhash\": \"" + kHashB +
            "\", \"unpack\": false}, {\"url\": \"c/1\"}],"
            "\"files\": [{\"localfile\": \"b.dat\", \"unpackedsize\": 99, \"unpackedhash\": \"" +
            kHashA +
            "\", \"chunks\": [1, 0, \"x\"], \"executable\": true},"
            "{\"localfile\": \"bin/kestrun\", \"url\": \"f/kestrun\", \"unpackedsize\": 7,"
            "\"patches\": [{\"url\": \"p/1\", \"fromversion\": 11, \"toversion\": 12, \"size\": "
            "3}]}]}";
        const QByteArray assets =
            "{\"version\": 7, \"chunks\": [{\"url\": \"https:"
            "//"
            "other.example/c/2\"}],"
            "\"files\": [{\"localfile\": \"a.dat\", \"chunks\": [2]}, {\"localfile\": \"B.dat\"}]}";
        const TPackageConfigurationReader reader = read(package, assets);

        QVERIFY(reader.isValid());
        QCOMPARE(reader.getVersion(), QString("12"));
        QCOMPARE(reader.getAssetsVersion(), QString("7")); // a number is kept as its text
        QCOMPARE(reader.versionLabel(), QString("P12 A7"));
        QCOMPARE(reader.getExecutable(), QString("bin/kestrun"));
        QCOMPARE(reader.getGeneration(), EPackageGeneration::SecondGeneration);
        QCOMPARE(reader.getVariant(), EPackageVariant::Beta);
        QCOMPARE(reader.getParameters(), QStringList({"--fullscreen", "", "-x"}));
        QCOMPARE(reader.getPackageData(), package);
        QCOMPARE(reader.getAssetData(), assets);

        // Chunks of the package document first, each URL resolved against its own document.
        const TChunkInPackageVector& chunks = reader.getChunks();
        QCOMPARE(chunks.size(), size_t(3));
        QCOMPARE(chunks[0].Url, QUrl("https://cdn.example/live/linux/c/0"));
        QCOMPARE(chunks[0].PackedSize, TFileSize(10));
        QCOMPARE(chunks[0].UnpackedSize, TFileSize(5000000000)); // above 2^32, from a string
        QCOMPARE(chunks[0].PackedHash, QByteArray::fromHex(kHashA));
        QCOMPARE(chunks[0].PackedHash.size(), 32);
        QCOMPARE(chunks[0].UnpackedHash, QByteArray::fromHex(kHashB));
        QCOMPARE(chunks[0].Unpack, false);
        QCOMPARE(chunks[1].Unpack, true); // absent: the data is a container
        QCOMPARE(chunks[2].Url, QUrl("https://other.example/c/2"));

        // Files of both documents sorted together by path, case-sensitively.
        const TFileInPackageVector& files = reader.getFiles();
        QStringList paths;
        for (const TFileInPackage& file : files)
            paths << file.LocalFile;
        QCOMPARE(paths, QStringList({"B.dat", "a.dat", "b.dat", "bin/kestrun"}));
        QCOMPARE(files[1].ChunkIndexes, std::vector<qint32>({2}));
        QCOMPARE(files[2].ChunkIndexes, std::vector<qint32>({1, 0, 0}));
        QCOMPARE(files[2].Executable, true);
        QCOMPARE(files[2].UnpackedSize, TFileSize(99));
        QCOMPARE(files[2].UnpackedHash, QByteArray::fromHex(kHashA));
        QVERIFY(files[2].WholeFile.Url.isEmpty());
        QCOMPARE(files[3].WholeFile.Url, QUrl("https://cdn.example/live/linux/f/kestrun"));
        QCOMPARE(files[3].WholeFile.UnpackedSize, TFileSize(7));
        QCOMPARE(files[3].Executable, false);
        QCOMPARE(files[3].Patches.size(), size_t(1));
        QCOMPARE(files[3].Patches[0].Url, QUrl("https://cdn.example/live/linux/p/1"));
        QCOMPARE(files[3].Patches[0].FromVersion, QString("11"));
        QCOMPARE(files[3].Patches[0].ToVersion, QString("12"));
        QCOMPARE(files[3].Patches[0].Size, 3);
    }

    void lenientValues_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<QString>("label");
        QTest::newRow("array document") << QByteArray("[1, 2]") << QByteArray() << "P? A?";
        QTest::newRow("numeric package version")
            << QByteArray("{\"version\": 7}") << QByteArray("{\"version\": \"3\"}") << "P? A3";
        QTest::newRow("no assets") << QByteArray("{\"version\": \"1\"}") << QByteArray() << "P1 A?";
    }
    void lenientValues()
    {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(QString, label);
        const TPackageConfigurationReader reader = read(package, assets);
        QVERIFY(reader.isValid());
        QVERIFY(reader.getFiles().empty());
        QCOMPARE(reader.versionLabel(), label);
    }

    void unknownGenerationAndVariant()
    {
        const auto reader = read("{\"generation\": \"First\", \"variant\": \"Beta\"}");
        QCOMPARE(reader.getGeneration(), EPackageGeneration::UnknownGeneration);
        QCOMPARE(reader.getVariant(), EPackageVariant::UnknownVariant);
    }

    void malformedDocumentsMakeInvalidReader_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<QString>("message");
        QTest::newRow("package not json")
            << QByteArray("<html>") << QByteArray()
            << "JSON package configuration file could not be parsed, using default package.";
        QTest::newRow("empty package")
            << QByteArray() << QByteArray()
            << "JSON package configuration file could not be parsed, using default package.";
        QTest::newRow("assets not json")
            << QByteArray("{\"version\": \"12\", \"files\": [{\"localfile\": \"x\"}]}")
            << QByteArray("{")
            << "JSON asset configuration file could not be parsed, using "
               "default package.";
    }
    void malformedDocumentsMakeInvalidReader()
    {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(QString, message);
        QTest::ignoreMessage(QtCriticalMsg, qPrintable(message));
        const TPackageConfigurationReader reader = read(package, assets);
        QVERIFY(!reader.isValid());
        QVERIFY(reader.getFiles().empty());
        QVERIFY(reader.getVersion().isEmpty());
        QCOMPARE(reader.versionLabel(), QString("P? A?"));
        QCOMPARE(reader.getPackageData(), package); // kept as received
    }
};

QTEST_GUILESS_MAIN(TestPackageConfigurationReader)
#include "tst_packageconfigurationreader.moc"
