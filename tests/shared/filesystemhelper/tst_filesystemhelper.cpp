#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/filesystemhelper/lzmacompressedreadonlymemoryblob.h"
#include "shared/imagefile/imagefile.h"

#include "testfiles.h"

#include <QFile>
#include <QImage>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>

using shared::readImageFile;
using shared::TFileSystemHelper;
using shared::writeImageFile;
using testsupport::readBytes;
using testsupport::writeBytes;

namespace {

// The text a std::runtime_error carries, or an empty string when nothing was thrown.
template <typename F> QString thrownText(F&& action)
{
    try {
        action();
    } catch (const std::runtime_error& error) {
        return QString::fromUtf8(error.what());
    }
    return {};
}

// Counts the primitive calls the compound operations must route through the virtual table.
class TCountingHelper : public TFileSystemHelper
{
public:
    bool fileExists(const QString& path) override
    {
        ++m_FileExistsCalls;
        return TFileSystemHelper::fileExists(path);
    }
    QByteArray readFileIfExists(const QString& path) override
    {
        ++m_ReadIfExistsCalls;
        return TFileSystemHelper::readFileIfExists(path);
    }
    int m_FileExistsCalls = 0;
    int m_ReadIfExistsCalls = 0;
};

} // namespace

class TestFileSystemHelper : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pDir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_pDir->isValid());
    }

    void joinPath_data()
    {
        QTest::addColumn<QStringList>("parts");
        QTest::addColumn<QString>("expected");
        QTest::newRow("two parts") << QStringList{"a", "b"} << "a/b";
        QTest::newRow("absolute first part") << QStringList{"/opt/x", "y"} << "/opt/x/y";
        // Joining must not collapse separators: callers rely on the exact text.
        QTest::newRow("trailing separator kept") << QStringList{"a/", "b"} << "a//b";
        QTest::newRow("empty list") << QStringList{} << "";
        QTest::newRow("one part") << QStringList{"a"} << "a";
    }
    void joinPath()
    {
        QFETCH(QStringList, parts);
        QFETCH(QString, expected);
        QCOMPARE(TFileSystemHelper().joinPath(parts), expected);
    }

    void resolvePathInsideDirectory_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "sub/f.txt"
                               << "/d/sub/f.txt";
        QTest::newRow("climbs out keeps its name") << "../../etc/passwd"
                                                   << "/d/passwd";
        QTest::newRow("absolute stays below base") << "/tmp/x"
                                                   << "/d/tmp/x";
        QTest::newRow("dot dot inside base") << "sub/../f.txt"
                                             << "/d/f.txt";
        QTest::newRow("empty is the base") << ""
                                           << "/d";
        // A string prefix test would accept /d2 as inside /d.
        QTest::newRow("sibling with base as prefix") << "../d2/x"
                                                     << "/d/x";
        QTest::newRow("sibling directory itself") << "../d2"
                                                  << "/d/d2";
        QTest::newRow("trailing separator falls back to directory name") << "../../etc/"
                                                                         << "/d/etc";
    }
    void resolvePathInsideDirectory()
    {
        QFETCH(QString, relative);
        QFETCH(QString, expected);
        QCOMPARE(TFileSystemHelper().resolvePathInsideDirectory(QDir("/d"), relative), expected);
    }

    void resolvePathInsideDirectory_rootBase()
    {
        QCOMPARE(TFileSystemHelper().resolvePathInsideDirectory(QDir("/"), "a/b"), QString("/a/b"));
    }

    void resolvePathInsideDirectory_refusesBareParent_data()
    {
        QTest::addColumn<QString>("relative");
        QTest::newRow("..") << "..";
        QTest::newRow("../") << "../";
        QTest::newRow("../..") << "../..";
    }
    void resolvePathInsideDirectory_refusesBareParent()
    {
        // Keeping only the name of ".." would still name the parent of the base.
        QFETCH(QString, relative);
        const QString text = thrownText(
            [&] { TFileSystemHelper().resolvePathInsideDirectory(QDir("/d/e"), relative); });
        QVERIFY2(text.startsWith("I/O error on file '" + relative + "': "), qPrintable(text));
    }

    void memoryBlobFallsBackToCompressedFile()
    {
        const QString plain = m_pDir->filePath("x.bin");
        QVERIFY(writeBytes(plain + ".lzma", "stored bytes"));
        TCountingHelper helper;
        const auto blob = helper.openReadOnlyMemoryBlob(plain);
        QVERIFY(dynamic_cast<shared::TLZMACompressedReadOnlyMemoryBlob*>(blob.get()));
        QCOMPARE(blob->path(), plain + ".lzma");
        // Plain bytes in a compressed-named file come back unchanged.
        QCOMPARE(blob->getData(), QByteArray("stored bytes"));
        QCOMPARE(helper.m_FileExistsCalls, 2);
    }

    void memoryBlobKinds()
    {
        TFileSystemHelper helper;
        const QString plain = m_pDir->filePath("y.bin");
        const QString compressed = m_pDir->filePath("z.lzma");
        QVERIFY(writeBytes(plain, "plain"));
        QVERIFY(writeBytes(compressed, "packed"));
        const auto plainBlob = helper.openReadOnlyMemoryBlob(plain);
        QVERIFY(!dynamic_cast<shared::TLZMACompressedReadOnlyMemoryBlob*>(plainBlob.get()));
        QVERIFY(dynamic_cast<shared::TLZMACompressedReadOnlyMemoryBlob*>(
            helper.openReadOnlyMemoryBlob(compressed).get()));

        // Every read goes to the file: a blob must see the file as it is now.
        QVERIFY(writeBytes(plain, "changed"));
        QCOMPARE(plainBlob->getData(), QByteArray("changed"));
        QVERIFY(QFile::remove(plain));
        const QString text = thrownText([&] { plainBlob->getData(); });
        QCOMPARE(text, "I/O error on file '" + plain + "': Could not open file.");
    }

    void memoryBlobMissingFile()
    {
        const QString missing = m_pDir->filePath("x.bin");
        const QString text =
            thrownText([&] { TFileSystemHelper().openReadOnlyMemoryBlob(missing); });
        QCOMPARE(text, "I/O error on file '" + missing + "': File does not exist");
    }

    void writeAndReadFile()
    {
        TFileSystemHelper helper;
        const QString path = m_pDir->filePath("f.bin");
        QByteArray bytes(100000, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<char>(i * 7);
        helper.writeFile(path, bytes);
        QCOMPARE(helper.readFile(path), bytes);
        helper.writeFile(path, "short");
        QCOMPARE(readBytes(path), QByteArray("short")); // truncated, not overwritten in place
    }

    void writeFileOntoDirectory()
    {
        const QString text =
            thrownText([&] { TFileSystemHelper().writeFile(m_pDir->path(), "x"); });
        QCOMPARE(text, "I/O error on file '" + m_pDir->path() + "': Could not open file.");
    }

    void readFileFailures()
    {
        TFileSystemHelper helper;
        const QString missing = m_pDir->filePath("missing");
        QVERIFY(thrownText([&] {
                    helper.readFile(missing);
                }).startsWith("I/O error on file '" + missing + "': "));
        QCOMPARE(helper.readFileIfExists(missing), QByteArray());
        QVERIFY(thrownText([&] {
                    helper.readFile(m_pDir->path());
                }).startsWith("I/O error on file '" + m_pDir->path() + "': "));
    }

    void writeFileAtomicallyKeepsTheOldFileOnFailure()
    {
        // Written in place, a failed or interrupted write left a torn file behind. The failure
        // here is a file-size limit, which holds for root too.
        TFileSystemHelper helper;
        const QString path = m_pDir->filePath("marker.json");
        helper.writeFile(path, "old");
        rlimit previous{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = previous;
        small.rlim_cur = 10;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString text =
            thrownText([&] { helper.writeFileAtomically(path, QByteArray(100, 'n')); });
        setrlimit(RLIMIT_FSIZE, &previous);
        std::signal(SIGXFSZ, previousHandler);
        QVERIFY2(text.contains("File too large"), qPrintable(text));
        QCOMPARE(readBytes(path), QByteArray("old"));
        QCOMPARE(QDir(m_pDir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"marker.json"});

        helper.writeFileAtomically(path, "new");
        QCOMPARE(readBytes(path), QByteArray("new"));
        QCOMPARE(QDir(m_pDir->path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"marker.json"});
        QVERIFY(QFileInfo(path).permissions() & QFile::ReadOther); // as any file the user writes
    }

    void textFiles()
    {
        TFileSystemHelper helper;
        const QString path = m_pDir->filePath("t.txt");
        helper.writeTextFile(path, "one\n");
        helper.appendTextFile(path, "two\n");
        QCOMPARE(readBytes(path), QByteArray("one\ntwo\n"));
        helper.writeTextFile(path, "three");
        QCOMPARE(readBytes(path), QByteArray("three"));
        // Neither reports failure: a directory path is silently not written.
        helper.writeTextFile(m_pDir->path(), "x");
    }

    void deleteFile()
    {
        TFileSystemHelper helper;
        const QString path = m_pDir->filePath("gone");
        QVERIFY(writeBytes(path, "x"));
        QVERIFY(helper.deleteFile(path));
        QVERIFY(!QFile::exists(path));
        QCOMPARE(thrownText([&] { helper.deleteFile(path); }), "Failed to delete file " + path);
    }

    // Only a full disk or quota sends the player to free space; any other reason is told as it
    // is. A code of 0 writes to /dev/full, which fails as a full disk does.
    void writeErrorTellsAFullDiskApart_data()
    {
        QTest::addColumn<int>("errorCode");
        QTest::addColumn<bool>("outOfSpace");
        QTest::newRow("full device") << 0 << true;
        QTest::newRow("quota") << int(EDQUOT) << true;
        QTest::newRow("folder in the way") << int(EISDIR) << false;
        QTest::newRow("file-size limit") << int(EFBIG) << false;
    }
    void writeErrorTellsAFullDiskApart()
    {
        QFETCH(int, errorCode);
        QFETCH(bool, outOfSpace);
        QFile full(QStringLiteral("/dev/full"));
        if (errorCode == 0)
            QVERIFY(full.open(QIODevice::WriteOnly) && (full.write("x") < 0 || !full.flush()));
        const shared::TWriteError error = errorCode == 0
                                              ? shared::writeError(full.fileName(), "test", full)
                                              : shared::writeError("a.bin", "test", errorCode);
        QCOMPARE(error.isOutOfSpace(), outOfSpace);
        QCOMPARE(QString::fromUtf8(error.what()),
                 "I/O error on file '" + error.fileName() + "': test: " + error.reason());
    }

    void copyFile()
    {
        TFileSystemHelper helper;
        QVERIFY(writeBytes(m_pDir->filePath("a"), "abc"));
        helper.copyFile(m_pDir->filePath("a"), m_pDir->filePath("b"));
        QCOMPARE(readBytes(m_pDir->filePath("b")), QByteArray("abc"));
        helper.copyFile(m_pDir->filePath("missing"), m_pDir->filePath("c")); // not reported
    }

    void createDirectory()
    {
        TFileSystemHelper helper;
        const QString nested = m_pDir->filePath("a/b/c");
        QVERIFY(helper.createDirectory(nested).exists());
        QVERIFY(helper.directoryExists(nested));
        QVERIFY(helper.createDirectory(nested).exists()); // existing is fine

        QVERIFY(writeBytes(m_pDir->filePath("file"), "x"));
        const QString blocked = m_pDir->filePath("file/sub");
        QCOMPARE(thrownText([&] { helper.createDirectory(blocked); }),
                 "Failed to create folder: '" + blocked + "'.");
    }

    void getOrCreateSubdirectory()
    {
        TFileSystemHelper helper;
        const QDir created = helper.getOrCreateSubdirectory(m_pDir->path(), "packages");
        QCOMPARE(created.absolutePath(), m_pDir->filePath("packages"));
        QVERIFY(created.exists());
        QCOMPARE(helper.getOrCreateSubdirectory(m_pDir->path(), "packages").absolutePath(),
                 created.absolutePath());
        QCOMPARE(thrownText([&] { helper.getOrCreateSubdirectory(m_pDir->filePath("none"), "x"); }),
                 QString("Directory doesn't exist"));
        QVERIFY(writeBytes(m_pDir->filePath("plain"), "x"));
        QCOMPARE(thrownText([&] { helper.getOrCreateSubdirectory(m_pDir->path(), "plain"); }),
                 QString("Failed to create subdirectory."));
    }

    void listFilesInDirectory()
    {
        TFileSystemHelper helper;
        QVERIFY(writeBytes(m_pDir->filePath("one"), "1"));
        QVERIFY(writeBytes(m_pDir->filePath("three"), "333"));
        QVERIFY(writeBytes(m_pDir->filePath(".hidden"), "h"));
        QVERIFY(writeBytes(m_pDir->filePath("sub/deep"), "d"));

        QMap<QString, qint64> seen;
        helper.forEachFileInDirectory(m_pDir->path(), [&](const shared::TLocalFileInfo& info) {
            seen.insert(info.m_AbsoluteFilePath, info.m_Size);
        });
        const QMap<QString, qint64> expected{{m_pDir->filePath("one"), 1},
                                             {m_pDir->filePath("three"), 3}};
        QCOMPARE(seen, expected);
    }

    void readJsonFile()
    {
        TCountingHelper helper;
        bool parseFailed = true;
        QVERIFY(helper.readJsonFileAsQJsonDocument(m_pDir->filePath("none.json"), parseFailed)
                    .isNull());
        QVERIFY(!parseFailed);

        QVERIFY(writeBytes(m_pDir->filePath("ok.json"), "{\"a\": 1}"));
        const QJsonDocument ok =
            helper.readJsonFileAsQJsonDocument(m_pDir->filePath("ok.json"), parseFailed);
        QVERIFY(!parseFailed);
        QCOMPARE(ok.object().value("a").toInt(), 1);

        QVERIFY(writeBytes(m_pDir->filePath("broken.json"), "{"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^Json parse error in file .*broken\\.json.*"));
        const QJsonDocument broken =
            helper.readJsonFileAsQJsonDocument(m_pDir->filePath("broken.json"), parseFailed);
        QVERIFY(parseFailed);
        QVERIFY(broken.isEmpty());
        QCOMPARE(helper.m_ReadIfExistsCalls, 3);
    }

    void images()
    {
        TFileSystemHelper helper;
        QImage image(4, 3, QImage::Format_ARGB32);
        image.fill(QColor(10, 20, 30));
        const QString path = m_pDir->filePath("i.png");
        writeImageFile(helper, image, path, "PNG");
        const auto read = readImageFile(helper, path, "PNG");
        QVERIFY(read);
        QCOMPARE(read->size(), QSize(4, 3));
        QCOMPARE(read->pixelColor(1, 1), QColor(10, 20, 30));

        QVERIFY(!readImageFile(helper, m_pDir->filePath("none.png"), "PNG"));
        QVERIFY(writeBytes(m_pDir->filePath("bad.png"), "not an image"));
        QVERIFY(!readImageFile(helper, m_pDir->filePath("bad.png"), "PNG"));

        // A null image used to be written as an empty file and reported as saved.
        QVERIFY_EXCEPTION_THROWN(
            writeImageFile(helper, QImage(), m_pDir->filePath("null.png"), "PNG"),
            std::runtime_error);
        QVERIFY(!QFile::exists(m_pDir->filePath("null.png")));
    }

    void iniSettings()
    {
        QVERIFY(writeBytes(m_pDir->filePath("s.ini"), "[G]\nk=v\n"));
        const auto settings = TFileSystemHelper().openIniSettings(m_pDir->filePath("s.ini"));
        QCOMPARE(settings->value("G/k").toString(), QString("v"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_pDir;
};

QTEST_GUILESS_MAIN(TestFileSystemHelper)
#include "tst_filesystemhelper.moc"
