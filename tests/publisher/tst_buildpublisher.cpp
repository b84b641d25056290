#include "launcher/configuration/packageconfigurationreader.h"
#include "publisher/documents/documentloader.h"
#include "publisher/publish/buildpublisher.h"
#include "publisher/publishererror.h"
#include "publisher/verify/treeverifier.h"
#include "shared/chunker/chunkscanner.h"
#include "shared/container/containerdecoder.h"

#include "testbuild.h"

#include <QBuffer>
#include <QDateTime>
#include <QTemporaryDir>
#include <QtTest>

#include <dirent.h>
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

using namespace orvik::publisher;
using namespace publishertest;
using orvik::launcher::TFileInPackage;
using orvik::launcher::TPackageConfigurationReader;
using shared::EContainerCodec;

Q_DECLARE_METATYPE(EContainerCodec)
Q_DECLARE_METATYPE(shared::TContainerSettings)

namespace {

TBuildContent smallBuild()
{
    return {{QStringLiteral("bin/game"), pattern(5000, 1)},
            {QStringLiteral("bin/big.so"), pattern(13 * kMiB, 2)},
            {QStringLiteral("assets/a.txt"), QByteArray(100000, 'a')},
            {QStringLiteral("assets/big.pak"), pattern(11 * kMiB, 3)}};
}

const TFileInPackage* findFile(const TPackageConfigurationReader& reader, const QString& path)
{
    for (const TFileInPackage& file : reader.getFiles())
        if (file.LocalFile == path)
            return &file;
    return nullptr;
}

// Root reads every folder through two capabilities of its thread; without them in effect a
// folder's mode keeps root out as well, so the same test holds for every user.
class TWithoutReadOverride
{
public:
    TWithoutReadOverride()
    {
        if (::syscall(SYS_capget, &m_Header, m_Saved) != 0)
            return;
        __user_cap_data_struct lowered[2] = {m_Saved[0], m_Saved[1]};
        lowered[0].effective &= ~((1u << CAP_DAC_OVERRIDE) | (1u << CAP_DAC_READ_SEARCH));
        m_bLowered = ::syscall(SYS_capset, &m_Header, lowered) == 0;
    }
    ~TWithoutReadOverride()
    {
        if (m_bLowered)
            ::syscall(SYS_capset, &m_Header, m_Saved);
    }
    TWithoutReadOverride(const TWithoutReadOverride&) = delete;
    TWithoutReadOverride& operator=(const TWithoutReadOverride&) = delete;

private:
    __user_cap_header_struct m_Header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct m_Saved[2]{};
    bool m_bLowered = false;
};

bool canOpenFolder(const QString& path)
{
    DIR* folder = ::opendir(QFile::encodeName(path).constData());
    if (folder)
        ::closedir(folder);
    return folder != nullptr;
}

QString publishingFailure(const TPublishOptions& publishOptions)
{
    try {
        publishBuild(publishOptions);
    } catch (const TPublisherError& error) {
        return QString::fromUtf8(error.what());
    }
    return QStringLiteral("published");
}

} // namespace

class TestBuildPublisher : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pBuild = std::make_unique<QTemporaryDir>();
        m_pCdn = std::make_unique<QTemporaryDir>();
    }

    // Catches documents that depend on thread timing or on the tree they are written into.
    void sameBuildGivesByteIdenticalTrees()
    {
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        QTemporaryDir other;
        auto first = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3"));
        auto second = options(m_pBuild->path(), other.path(), QStringLiteral("3"));
        first.Threads = 1;
        second.Threads = 2;
        publishBuild(first);
        publishBuild(second);
        const TBuildContent tree = readTree(m_pCdn->path());
        QVERIFY(tree.count(QStringLiteral("game-3.json")) && tree.count("game-3-assets-7.json"));
        QCOMPARE(readTree(other.path()), tree);
    }

    // Catches a change to what earlier releases published: a studio that keeps its codecs must
    // get the same documents and containers, byte for byte, so launchers fetch nothing anew.
    // (The digests follow Debian 12's zlib and liblzma.)
    void documentsOfEarlierCodecsAreUnchanged()
    {
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        auto publishOptions = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3"));
        publishOptions.Codecs.addRule(QStringLiteral("*.pak=lzma"));
        publishBuild(publishOptions);
        const TBuildContent tree = readTree(m_pCdn->path());
        QCryptographicHash digest(QCryptographicHash::Sha256);
        for (const auto& [path, bytes] : tree) {
            digest.addData(path.toUtf8() + '\n');
            digest.addData(bytes);
        }
        QCOMPARE(digest.result().toHex(),
                 QByteArray("721f506964aa816009166d2cc5b254119b0169ac70d67ccd1ab116a2e009bae5"));
    }

    // Catches temporary files left behind and containers only their owner may read, which the web
    // server that serves the tree would answer with errors.
    void treeHoldsOnlyReadableContainersAndDocuments()
    {
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        publishBuild(options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3")));
        const QRegularExpression expected(QStringLiteral(
            "^(game-3\\.json|game-3-assets-7\\.json|data/[a-z]+/[0-9a-f]{2}/[0-9a-f]{64})$"));
        for (const auto& [path, bytes] : readTree(m_pCdn->path())) {
            QVERIFY2(expected.match(path).hasMatch(), qPrintable(path));
            QVERIFY2(QFileInfo(m_pCdn->filePath(path)).permissions() & QFileDevice::ReadOther,
                     qPrintable(path));
        }
    }

    // Catches an assets document of an earlier version overwritten by a later one: its chunk
    // indexes count on from the package document's chunks, which the new version changed.
    void newVersionLeavesEarlierDocumentsIntact()
    {
        TBuildContent build = smallBuild();
        QVERIFY(writeBuild(m_pBuild->path(), build, QStringLiteral("bin/game")));
        const TPublishResult first =
            publishBuild(options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3")));
        QVERIFY(writeBuild(m_pBuild->path(), {{"bin/more.so", pattern(21 * kMiB, 8)}}));
        const TPublishResult second =
            publishBuild(options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("4")));
        QVERIFY(second.AssetsDocument != first.AssetsDocument);

        TTreeVerifier verifier(m_pCdn->path());
        verifier.verifyBuild(m_pCdn->filePath(first.PackageDocument),
                             m_pCdn->filePath(first.AssetsDocument));
        verifier.verifyBuild(m_pCdn->filePath(second.PackageDocument),
                             m_pCdn->filePath(second.AssetsDocument));
        QVERIFY(verifier.faults().empty());
        QCOMPARE(verifier.documentsChecked(), 4);
    }

    // Catches a republish that recompresses or rewrites: unchanged content must write nothing,
    // so a live CDN tree is never touched.
    void republishingAnUnchangedBuildWritesNothing()
    {
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        const auto publishOptions = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3"));
        const TPublishResult first = publishBuild(publishOptions);
        QCOMPARE(first.ContainersKept, 0);
        const auto before = modificationTimes();

        const TPublishResult again = publishBuild(publishOptions);
        QCOMPARE(again.ContainersWritten, 0);
        QCOMPARE(again.DocumentsWritten, 0);
        QCOMPARE(again.BytesWritten, TFileSize(0));
        QCOMPARE(again.ContainersKept, first.ContainersWritten);
        QCOMPARE(modificationTimes(), before);
    }

    // Catches a store that trusts a name without its content: a damaged container would be
    // listed again with the digest of the damage.
    void republishingReplacesADamagedContainer()
    {
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        const auto publishOptions = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3"));
        const TPublishResult first = publishBuild(publishOptions);
        const TPackageConfigurationReader reader = read(first);
        const QString container = findFile(reader, "bin/game")->WholeFile.Url.toLocalFile();
        QByteArray bytes = testsupport::readBytes(container);
        bytes[bytes.size() - 1] = char(bytes.at(bytes.size() - 1) ^ 0x55);
        QVERIFY(testsupport::writeBytes(container, bytes));

        QCOMPARE(publishBuild(publishOptions).ContainersWritten, 1);
        QCOMPARE(shared::decodeContainerStrict(testsupport::readBytes(container)),
                 smallBuild().at("bin/game"));
    }

    void chunkBoundariesAreTheLaunchers_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("chunked");
        QTest::newRow("empty") << 0 << false;
        QTest::newRow("one byte") << 1 << false;
        QTest::newRow("exactly 4 MiB") << 4 * kMiB << false;
        QTest::newRow("4 MiB and a byte") << 4 * kMiB + 1 << true;
        QTest::newRow("37 MiB") << 37 * kMiB << true;
    }
    // Catches a publisher that cuts differently from the launcher's planning, which would then
    // find nothing to reuse, and small files listed as chunks or large ones downloaded whole.
    void chunkBoundariesAreTheLaunchers()
    {
        QFETCH(int, size);
        QFETCH(bool, chunked);
        const QByteArray content = pattern(size, 7);
        QVERIFY(writeBuild(m_pBuild->path(), {{"bin/game", pattern(10, 1)}, {"data.bin", content}},
                           QStringLiteral("bin/game")));
        const TPackageConfigurationReader reader =
            read(publishBuild(options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("1"))));
        const TFileInPackage* file = findFile(reader, "data.bin");
        QVERIFY(file);
        QCOMPARE(!file->ChunkIndexes.empty(), chunked);
        QCOMPARE(file->WholeFile.Url.isEmpty(), chunked);

        std::vector<std::pair<QByteArray, quint64>> expected;
        QBuffer buffer;
        buffer.setData(content);
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        shared::scanContentDefinedChunks(buffer, [&](const QByteArray& hash, quint64 length) {
            expected.emplace_back(hash, length);
        });
        std::vector<std::pair<QByteArray, quint64>> listed;
        for (const qint32 index : file->ChunkIndexes) {
            const auto& chunk = reader.getChunks().at(std::size_t(index));
            listed.emplace_back(chunk.UnpackedHash, chunk.UnpackedSize);
        }
        if (chunked)
            QCOMPARE(listed, expected);
        else
            QCOMPARE(file->WholeFile.UnpackedSize, quint64(size));
    }

    void codecRulesChooseTheContainer_data()
    {
        using shared::TContainerSettings;
        QTest::addColumn<QStringList>("rules");
        QTest::addColumn<QString>("path");
        QTest::addColumn<TContainerSettings>("codec");
        const TContainerSettings deflate{EContainerCodec::Deflate};
        QTest::newRow("default") << QStringList() << "x/a.txt" << deflate;
        QTest::newRow("name pattern in any folder")
            << QStringList{"*.ogg=stored"} << "music/deep/a.ogg"
            << TContainerSettings{EContainerCodec::Stored};
        QTest::newRow("path pattern is anchored")
            << QStringList{"data/*.pak=lzma"} << "other/data/x.pak" << deflate;
        QTest::newRow("path pattern") << QStringList{"data/*.pak=lzma"} << "data/x.pak"
                                      << TContainerSettings{EContainerCodec::Lzma};
        QTest::newRow("first match wins") << QStringList{"*.bin=lzip", "*=zpaq"} << "a.bin"
                                          << TContainerSettings{EContainerCodec::Lzip};
        QTest::newRow("later rule") << QStringList{"*.bin=lzip", "*=zpaq"} << "a.dat"
                                    << TContainerSettings{EContainerCodec::Zpaq};
        QTest::newRow("level") << QStringList{"*=deflate:1"} << "a.dat"
                               << TContainerSettings{EContainerCodec::Deflate, 1};
        QTest::newRow("zstd") << QStringList{"*=zstd"} << "a.dat"
                              << TContainerSettings{EContainerCodec::Zstd};
        QTest::newRow("zstd, level and long-distance matching")
            << QStringList{"*=zstd:5:long"} << "a.dat"
            << TContainerSettings{EContainerCodec::Zstd, 5, true};
        QTest::newRow("zstd, long-distance matching")
            << QStringList{"*=zstd:long"} << "a.dat"
            << TContainerSettings{EContainerCodec::Zstd, shared::kContainerDefaultLevel, true};
    }
    // Catches rules matched against the wrong part of the path, and a chosen codec, level or
    // long-distance matching that does not reach the container that is written.
    void codecRulesChooseTheContainer()
    {
        QFETCH(QStringList, rules);
        QFETCH(QString, path);
        QFETCH(shared::TContainerSettings, codec);
        const QByteArray content = QByteArray(20000, 'k') + pattern(3000, 5);
        QVERIFY(writeBuild(m_pBuild->path(), {{"bin/game", pattern(10, 1)}, {path, content}},
                           QStringLiteral("bin/game")));
        auto publishOptions = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("1"));
        for (const QString& rule : rules)
            publishOptions.Codecs.addRule(rule);
        const TPackageConfigurationReader reader = read(publishBuild(publishOptions));
        const QByteArray container =
            testsupport::readBytes(findFile(reader, path)->WholeFile.Url.toLocalFile());
        QCOMPARE(container.at(0), 'p');
        QCOMPARE(EContainerCodec(container.at(1)), codec.m_eCodec);
        // The writer is deterministic: equal bytes mean equal settings.
        QCOMPARE(container, shared::makeContainer(content, codec));
        QCOMPARE(shared::decodeContainerStrict(container), content);
    }

    void incompleteBuildIsRefused_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder that cannot be read")
            << "lock folder"
            << "cannot read folder 'assets/locked': Permission denied";
        QTest::newRow("name that is not UTF-8") << "latin-1 name"
                                                << "name 'assets/caf\\xe9.txt' is not valid UTF-8";
        QTest::newRow("rewritten in place with the same size while read")
            << "rewrite"
            << "file 'assets/a.txt' changed while it was read";
    }
    // Catches a build published without the folders and names that directory listings pass over
    // unseen, and a document whose digest matches the file neither before a write nor after it.
    void incompleteBuildIsRefused()
    {
        QFETCH(QString, damage);
        QFETCH(QString, reason);
        QVERIFY(writeBuild(m_pBuild->path(), smallBuild(), QStringLiteral("bin/game")));
        auto publishOptions = options(m_pBuild->path(), m_pCdn->path(), QStringLiteral("3"));
        const QString locked = m_pBuild->filePath("assets/locked");
        std::unique_ptr<TWithoutReadOverride> withoutOverride;
        if (damage == "lock folder") {
            QVERIFY(testsupport::writeBytes(locked + "/level.pak", "level"));
            QVERIFY(QFile::setPermissions(locked, {}));
            withoutOverride = std::make_unique<TWithoutReadOverride>();
            if (canOpenFolder(locked))
                QSKIP("this user reads folders whatever their mode says");
        } else if (damage == "latin-1 name") {
            const QByteArray name =
                QFile::encodeName(m_pBuild->filePath("assets")) + "/caf\xe9.txt";
            const int descriptor = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(descriptor >= 0);
            QCOMPARE(::close(descriptor), 0);
        } else if (damage == "rewrite") {
            // A write within the clock tick of the one before leaves the times as they were; a
            // build is rarely that fresh, and the test must not depend on the tick.
            QFile text(m_pBuild->filePath("assets/a.txt"));
            QVERIFY(text.open(QIODevice::ReadWrite));
            QVERIFY(text.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-3600),
                                     QFileDevice::FileModificationTime));
            text.close();
            publishOptions.AfterFileRead = [path = text.fileName()](const QString& relativePath) {
                QFile file(path);
                if (relativePath == "assets/a.txt" && file.open(QIODevice::ReadWrite))
                    file.write(QByteArray(int(file.size()), 'b'));
            };
        }
        const QString failure = publishingFailure(publishOptions);
        withoutOverride.reset();
        QFile::setPermissions(locked, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                          QFileDevice::ExeOwner);
        QVERIFY2(failure.contains(reason), qPrintable(failure));
        QVERIFY(QDir(m_pCdn->path()).entryList({"*.json"}, QDir::Files).isEmpty());
    }

private:
    TPackageConfigurationReader read(const TPublishResult& result) const
    {
        return loadBuildDocuments(
            m_pCdn->filePath(result.PackageDocument),
            result.AssetsDocument.isEmpty() ? QString() : m_pCdn->filePath(result.AssetsDocument));
    }

    std::map<QString, QDateTime> modificationTimes() const
    {
        std::map<QString, QDateTime> times;
        for (const auto& [path, bytes] : readTree(m_pCdn->path()))
            times[path] = QFileInfo(m_pCdn->filePath(path)).lastModified();
        return times;
    }

    std::unique_ptr<QTemporaryDir> m_pBuild;
    std::unique_ptr<QTemporaryDir> m_pCdn;
};

QTEST_GUILESS_MAIN(TestBuildPublisher)
#include "tst_buildpublisher.moc"
