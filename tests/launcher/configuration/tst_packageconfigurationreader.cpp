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

// Documents written with single quotes, to keep the tables readable.
QByteArray json(const char* text)
{
    return QByteArray(text).replace('\'', '"');
}

// Collects critical messages while it lives, in place of the test's own handler.
class TCriticalMessages
{
public:
    TCriticalMessages() { m_Previous = qInstallMessageHandler(&TCriticalMessages::collect); }
    ~TCriticalMessages() { qInstallMessageHandler(m_Previous); }
    const QStringList& messages() const { return s_Messages; }

private:
    static void collect(QtMsgType type, const QMessageLogContext&, const QString& message)
    {
        if (type == QtCriticalMsg)
            s_Messages << message;
    }
    static inline QStringList s_Messages;
    QtMessageHandler m_Previous = nullptr;

public:
    static void clear() { s_Messages.clear(); }
};

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
            "\", \"chunks\": [1, 0, 2], \"executable\": true},"
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
        // Indexes count through both chunk lists: 2 is the assets document's chunk.
        QCOMPARE(files[2].ChunkIndexes, std::vector<qint32>({1, 0, 2}));
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
        QTest::newRow("numeric package version") << QByteArray("{\"version\": 7, \"files\": []}")
                                                 << QByteArray("{\"version\": \"3\"}") << "P? A3";
        QTest::newRow("no assets")
            << QByteArray("{\"version\": \"1\", \"files\": []}") << QByteArray() << "P1 A?";
        QTest::newRow("assets object without files")
            << QByteArray("{\"files\": []}") << QByteArray("{}") << "P? A?";
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
        QVERIFY(!reader.getInvalidReason().isEmpty());
    }

    // Documents that parse but cannot describe an installation. Accepted, they planned an
    // installation with no files (deleting every installed file), files placed on the
    // installation directory or a folder, chunk 0 for an index outside 32 bits, or data copied
    // from the player's disk into the package.
    void refusedDocuments_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<QString>("reason");
        const QByteArray valid = json("{'version': '1', 'files': []}");
        const auto withFile = [](const char* file) {
            return json("{'version': '1', 'chunks': [{'url': 'c/0'}, {'url': 'c/1'}], "
                        "'files': [{'localfile': 'a.dat'}, ") +
                   json(file) + "]}";
        };
        const auto withChunkIndex = [&](const char* index) {
            return withFile(
                (QByteArray("{'localfile': 'bin/x', 'chunks': [0, ") + index + "]}").constData());
        };

        // Not an object with a file list: an error page served with status 200, "{}", "[]".
        QTest::newRow("package is an array")
            << json("[1, 2]") << QByteArray() << "not a JSON object";
        QTest::newRow("package is an empty array")
            << json("[]") << QByteArray() << "not a JSON object";
        QTest::newRow("package is an empty object")
            << json("{}") << QByteArray() << "\"files\" array";
        QTest::newRow("package without files")
            << json("{'version': '12'}") << QByteArray() << "\"files\" array";
        QTest::newRow("package files not an array")
            << json("{'files': {'localfile': 'a'}}") << QByteArray() << "\"files\" array";
        QTest::newRow("assets is an array") << valid << json("[]") << "assets document";
        QTest::newRow("assets files not an array")
            << valid << json("{'version': '2', 'files': 5}") << "assets document";

        // File entries that name the installation itself or one of its folders.
        QTest::newRow("empty path") << withFile("{'localfile': ''}") << QByteArray() << "\"\"";
        QTest::newRow("dot") << withFile("{'localfile': '.'}") << QByteArray() << "\".\"";
        QTest::newRow("climbs back to the folder")
            << withFile("{'localfile': 'dir/..'}") << QByteArray() << "dir/..";
        QTest::newRow("folder with a dot")
            << withFile("{'localfile': 'screenshots/.'}") << QByteArray() << "screenshots/.";
        QTest::newRow("folder with a slash")
            << withFile("{'localfile': 'screenshots/'}") << QByteArray() << "screenshots/";
        QTest::newRow("number as path")
            << withFile("{'localfile': 5}") << QByteArray() << "localfile";
        QTest::newRow("no path") << withFile("{'unpackedsize': 5}") << QByteArray() << "localfile";
        QTest::newRow("entry not an object") << withFile("7") << QByteArray() << "localfile";
        QTest::newRow("assets entry names a folder")
            << valid << json("{'files': [{'localfile': 'maps/.'}]}") << "maps/.";

        // Chunk indexes that are not whole numbers inside the combined chunk list (2 chunks).
        QTest::newRow("index past the list")
            << withChunkIndex("2") << QByteArray()
            << "chunk index 2 of \"bin/x\" is outside the chunk list";
        QTest::newRow("negative index") << withChunkIndex("-1") << QByteArray() << "chunk index -1";
        QTest::newRow("index above 32 bits")
            << withChunkIndex("2147483648") << QByteArray() << "chunk index 2147483648";
        QTest::newRow("index far above 32 bits")
            << withChunkIndex("1e20") << QByteArray() << "chunk index 1e+20";
        QTest::newRow("fractional index")
            << withChunkIndex("0.5") << QByteArray() << "chunk index 0.5";
        QTest::newRow("index as text")
            << withChunkIndex("'1'") << QByteArray() << "chunk index \"1\"";
        QTest::newRow("index as null")
            << withChunkIndex("null") << QByteArray() << "chunk index null";
        QTest::newRow("assets index past both lists")
            << withFile("{'localfile': 'b'}")
            << json("{'chunks': [{'url': 'c/2'}], 'files': [{'localfile': 'm', 'chunks': [3]}]}")
            << "chunk index 3 of \"m\"";

        // A downloaded document naming data on the player's disk or outside the web.
        QTest::newRow("chunk on the local disk")
            << json("{'chunks': [{'url': 'file:///home/player/.ssh/id_rsa'}], 'files': []}")
            << QByteArray() << "file:///home/player/.ssh/id_rsa";
        QTest::newRow("whole file on the local disk")
            << withFile("{'localfile': 'b', 'url': 'file:///etc/passwd'}") << QByteArray()
            << "file:///etc/passwd";
        QTest::newRow("assets chunk over ftp")
            << valid << json("{'chunks': [{'url': 'ftp://cdn.example/c'}], 'files': []}")
            << "ftp://cdn.example/c";

        // Sizes no file system holds. Read as they were, their sums wrapped to a few bytes and
        // the disk-space check passed ("needed 57344").
        const QString tooLarge = "more than a file system can hold";
        QTest::newRow("size of 2^64 - 1")
            << withFile("{'localfile': 'b', 'unpackedsize': '18446744073709551615'}")
            << QByteArray() << tooLarge;
        QTest::newRow("size past 64 bits")
            << withFile("{'localfile': 'b', 'unpackedsize': '18446744073709551616'}")
            << QByteArray() << tooLarge;
        QTest::newRow("negative size") << withFile("{'localfile': 'b', 'packedsize': -1}")
                                       << QByteArray() << "\"b\" has the size -1";
        QTest::newRow("chunk of 2^63")
            << json("{'chunks': [{'unpackedsize': 9223372036854775808}], "
                    "'files': []}")
            << QByteArray() << "chunk 0 has the size";
        QTest::newRow("two files of 2^62")
            << json("{'files': [{'localfile': 'a', 'unpackedsize': '4611686018427387904'}, "
                    "{'localfile': 'b', 'unpackedsize': '4611686018427387904'}]}")
            << QByteArray() << tooLarge;
        QTest::newRow("one chunk repeated past the limit")
            << json("{'chunks': [{'unpackedsize': '3000000000000000000'}], "
                    "'files': [{'localfile': 'a', 'chunks': [0, 0]}]}")
            << QByteArray() << "the chunks of \"a\" add up";

        // Names and paths the file system refuses: the write failed as a saving failure, and
        // the player was told to free disk space.
        const QByteArray longName = "{'localfile': 'maps/" + QByteArray(256, 'n') + "'}";
        QTest::newRow("name of 256 bytes")
            << withFile(longName.constData()) << QByteArray() << "name of 256 bytes";
        const QByteArray wideName = "{'localfile': '" + QString(128, QChar(0xe9)).toUtf8() + "'}";
        QTest::newRow("name of 128 two-byte characters")
            << withFile(wideName.constData()) << QByteArray() << "name of 256 bytes";
        QByteArray deepPath = "{'localfile': '";
        for (int i = 0; i < 41; ++i)
            deepPath += QByteArray(99, 'd') + '/';
        QTest::newRow("path of 4101 bytes")
            << withFile((deepPath + "x'}").constData()) << QByteArray() << "path of 4101 bytes";
    }
    void refusedDocuments()
    {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(QString, reason);
        TCriticalMessages::clear();
        TCriticalMessages critical;
        const TPackageConfigurationReader reader = read(package, assets);
        QVERIFY(!reader.isValid());
        QVERIFY(reader.getFiles().empty());
        QVERIFY(reader.getChunks().empty());
        QVERIFY(reader.getParameters().isEmpty());
        QCOMPARE(reader.versionLabel(), QString("P? A?"));
        QVERIFY2(reader.getInvalidReason().contains(reason), qPrintable(reader.getInvalidReason()));
        QCOMPARE(critical.messages().size(), 1);
        QVERIFY2(critical.messages().front().contains(reader.getInvalidReason()),
                 qPrintable(critical.messages().front()));
    }

    // The borders of the rules above: these describe an installation and must stay readable.
    void acceptedDocuments_data()
    {
        QTest::addColumn<QByteArray>("package");
        QTest::addColumn<QByteArray>("assets");
        QTest::addColumn<int>("files");
        QTest::newRow("no files at all") << json("{'files': []}") << QByteArray() << 0;
        QTest::newRow("dotted and climbing paths that end on a name")
            << json("{'files': [{'localfile': 'bin/./x'}, {'localfile': '../y'}, "
                    "{'localfile': 'a/../z'}]}")
            << QByteArray() << 3;
        QTest::newRow("package file built from an assets chunk")
            << json("{'chunks': [{'url': 'c/0'}], 'files': [{'localfile': 'a', 'chunks': [1, 0]}]}")
            << json("{'chunks': [{'url': 'c/1'}], 'files': []}") << 1;
        QTest::newRow("index written as a whole float")
            << json("{'chunks': [{'url': 'c/0'}], 'files': [{'localfile': 'a', 'chunks': [0.0]}]}")
            << QByteArray() << 1;
        QTest::newRow("web URLs in any case")
            << json("{'chunks': [{'url': 'HTTPS://cdn.example/c'}, {'url': 'http://mirror/c'}], "
                    "'files': [{'localfile': 'a', 'url': 'https://cdn.example/a'}]}")
            << QByteArray() << 1;
        QTest::newRow("file without a URL")
            << json("{'files': [{'localfile': 'a'}]}") << QByteArray() << 1;
        QTest::newRow("name of 255 bytes, sizes up to 2^62")
            << json(("{'files': [{'localfile': 'a/" + QByteArray(255, 'n') +
                     "', 'unpackedsize': '4611686018427387904'}]}")
                        .constData())
            << QByteArray() << 1;
    }
    void acceptedDocuments()
    {
        QFETCH(QByteArray, package);
        QFETCH(QByteArray, assets);
        QFETCH(int, files);
        const TPackageConfigurationReader reader = read(package, assets);
        QVERIFY2(reader.isValid(), qPrintable(reader.getInvalidReason()));
        QVERIFY(reader.getInvalidReason().isEmpty());
        QCOMPARE(int(reader.getFiles().size()), files);
    }

    // Installed documents are read with the installation as base: the offline branch and local
    // copies fetch from the disk, so local URLs stay theirs.
    void installedDocumentsMayNameLocalFiles()
    {
        const QUrl base = QUrl::fromLocalFile(QStringLiteral("/opt/kestrun/packages/game/"));
        const QByteArray package =
            json("{'chunks': [{'url': 'file:///media/dvd/c0'}, {'url': 'c/1'}], "
                 "'files': [{'localfile': 'a', 'chunks': [0, 1]}, "
                 "{'localfile': 'b', 'url': 'https://cdn.example/b'}]}");
        const TPackageConfigurationReader reader(QByteArray(package), QByteArray(), base, base);
        QVERIFY2(reader.isValid(), qPrintable(reader.getInvalidReason()));
        QCOMPARE(reader.getChunks()[0].Url, QUrl("file:///media/dvd/c0"));
        QCOMPARE(reader.getChunks()[1].Url,
                 QUrl::fromLocalFile(QStringLiteral("/opt/kestrun/packages/game/c/1")));
    }
};

QTEST_GUILESS_MAIN(TestPackageConfigurationReader)
#include "tst_packageconfigurationreader.moc"
