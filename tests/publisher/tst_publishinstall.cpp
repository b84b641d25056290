#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/download/packagefiledownloader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/packageinstallation.h"
#include "publisher/diff/versiondifference.h"

#include "testbuild.h"
#include "testhttpserver.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using namespace orvik::launcher;
using namespace publishertest;
using orvik::publisher::TPublishResult;

namespace {

constexpr int kWaitMs = 120000;

TBuildContent firstBuild()
{
    QByteArray readme;
    for (int i = 0; i < 20000; ++i)
        readme += "line " + QByteArray::number(i) + " of the read-me\n";
    return {
        {QStringLiteral("bin/game"), pattern(3000, 1)},
        {QStringLiteral("bin/empty.cfg"), QByteArray()},
        {QStringLiteral("bin/engine.so"), pattern(9 * kMiB, 2)},
        {QStringLiteral("assets/world.pak"), pattern(40 * kMiB, 3)},
        {QStringLiteral("assets/readme.txt"), readme},
        // The same bytes as the executable, listed by the other document.
        {QStringLiteral("assets/game.copy"), pattern(3000, 1)},
    };
}

} // namespace

// Publishes builds and installs them with the launcher's own planning and downloader from the
// local test server, as a player's launcher would from the CDN.
class TestPublishInstall : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_pServer = std::make_unique<testsupport::TTestHttpServer>();
        QVERIFY(m_pServer->start());
        for (auto* dir : {&m_pBuild, &m_pCdn, &m_pInstall, &m_pApp})
            *dir = std::make_unique<QTemporaryDir>();
        QVERIFY(testsupport::writeBytes(m_pApp->filePath("launchersettings.ini"),
                                        "[OPTIONS]\nmaxCachedChunks=100\n"));
        m_pFilesystem = std::make_shared<TLauncherFilesystemHelper>(m_pApp->path());
    }

    void cleanup()
    {
        m_pInstallation.reset();
        m_pServer.reset();
    }

    // Catches documents the launcher reads differently than they were meant: wrong chunk indexes
    // in the assets document, wrong digests or sizes, relative URLs that do not resolve, lost
    // executable flags, empty files without a decodable source.
    void publishedBuildInstallsByteIdentical()
    {
        const TBuildContent build = firstBuild();
        const TPublishResult published = publish(build, QStringLiteral("12"));
        const TPackageConfigurationReader remote = remoteReader(published);
        QVERIFY(remote.isValid());
        QCOMPARE(remote.versionLabel(), QStringLiteral("P12 A7"));
        QCOMPARE(remote.getExecutable(), QStringLiteral("bin/game"));
        QCOMPARE(remote.getParameters(), (QStringList{"-windowed", "--lang=en"}));
        QCOMPARE(remote.getGeneration(), EPackageGeneration::SecondGeneration);
        QCOMPARE(remote.getVariant(), EPackageVariant::Beta);

        QCOMPARE(install(remote, TPackageConfigurationReader()), EPackageDownloaderError::NoError);
        QCOMPARE(readTree(m_pInstall->path()), build);
        QVERIFY(QFileInfo(m_pInstall->filePath("bin/game")).permissions() & QFileDevice::ExeOwner);
        QVERIFY(!(QFileInfo(m_pInstall->filePath("bin/engine.so")).permissions() &
                  QFileDevice::ExeOwner));
    }

    // Catches chunk boundaries that differ from the launcher's (nothing would be reused), and
    // containers named by anything but their content (unchanged chunks would be written again).
    void updateFetchesOnlyTheChunksAroundAnInsertion()
    {
        TBuildContent build = firstBuild();
        const TPublishResult first = publish(build, QStringLiteral("12"));
        const TPackageConfigurationReader installed = remoteReader(first);
        QCOMPARE(install(installed, TPackageConfigurationReader()),
                 EPackageDownloaderError::NoError);

        QByteArray& world = build[QStringLiteral("assets/world.pak")];
        world.insert(17 * kMiB, pattern(1000, 99));
        const TPublishResult second = publish(build, QStringLiteral("13"), QStringLiteral("8"));
        const int worldChunks =
            chunkCount(remoteReader(second), QStringLiteral("assets/world.pak"));
        QVERIFY2(worldChunks >= 4, qPrintable(QString::number(worldChunks)));
        // One or two chunks around the insertion; everything else is already in the tree.
        QVERIFY2(second.ContainersWritten >= 1 && second.ContainersWritten <= 2,
                 qPrintable(QString::number(second.ContainersWritten)));

        const TPackageConfigurationReader remote = remoteReader(second);
        const int requestsBefore = m_pServer->requests().size();
        QCOMPARE(install(remote, installed), EPackageDownloaderError::NoError);
        QCOMPARE(readTree(m_pInstall->path()), build);
        // The client fetched exactly what the publisher's difference predicts, and little.
        const int fetched = m_pServer->requests().size() - requestsBefore;
        QCOMPARE(fetched, orvik::publisher::diffVersions(installed, remote).PiecesToFetch);
        QCOMPARE(fetched, second.ContainersWritten);
    }

    // Catches a prediction and a planning that part ways over files whose bytes the old version
    // holds under another name: a renamed folder and a file that copies another were fetched
    // again, and the old folder stayed behind empty.
    void updateThatRenamesAFolderFetchesOnlyWhatChanged()
    {
        TBuildContent build = firstBuild();
        build[QStringLiteral("levels/arena/map.dat")] = pattern(6 * kMiB, 4);
        build[QStringLiteral("levels/arena/props.cfg")] = pattern(2000, 5);
        const TPublishResult first = publish(build, QStringLiteral("12"));
        const TPackageConfigurationReader installed = remoteReader(first);
        QCOMPARE(install(installed, TPackageConfigurationReader()),
                 EPackageDownloaderError::NoError);

        for (const char* name : {"map.dat", "props.cfg"}) {
            const QString from = QStringLiteral("levels/arena/") + name;
            build[QStringLiteral("levels/arena_v2/") + name] = build[from];
            build.erase(from);
        }
        build[QStringLiteral("bin/engine.copy")] = build[QStringLiteral("bin/engine.so")];
        build[QStringLiteral("assets/readme.txt")] += "one more line\n";
        const TPublishResult second = publish(build, QStringLiteral("13"), QStringLiteral("8"));
        const TPackageConfigurationReader remote = remoteReader(second);

        const int requestsBefore = m_pServer->requests().size();
        QCOMPARE(install(remote, installed), EPackageDownloaderError::NoError);
        QCOMPARE(readTree(m_pInstall->path()), build);
        QVERIFY(!QFileInfo::exists(m_pInstall->filePath("levels/arena")));
        const int fetched = m_pServer->requests().size() - requestsBefore;
        QCOMPARE(fetched, orvik::publisher::diffVersions(installed, remote).PiecesToFetch);
        // Only the read-me changed: what a fresh publisher wrote is all there is to fetch.
        QCOMPARE(fetched, second.ContainersWritten);
    }

private:
    TPublishResult publish(const TBuildContent& build, const QString& version,
                           const QString& assetsVersion = QStringLiteral("7"))
    {
        QTemporaryDir directory;
        writeBuild(directory.path(), build, QStringLiteral("bin/game"));
        auto publishOptions = options(directory.path(), m_pCdn->path(), version);
        publishOptions.AssetsVersion = assetsVersion;
        publishOptions.Codecs = orvik::publisher::TCodecRules(shared::EContainerCodec::Deflate);
        publishOptions.Codecs.addRule(QStringLiteral("*.txt=lzma"));
        // The launcher must install what a studio packs with every codec it may choose.
        publishOptions.Codecs.addRule(QStringLiteral("*.pak=zstd:3:long"));
        const TPublishResult result = orvik::publisher::publishBuild(publishOptions);
        for (const auto& [path, bytes] : readTree(m_pCdn->path()))
            m_pServer->serve("/cdn/" + path, bytes);
        return result;
    }

    // The documents as the configuration handler hands them over: base URLs on the server.
    TPackageConfigurationReader remoteReader(const TPublishResult& published) const
    {
        return TPackageConfigurationReader(
            testsupport::readBytes(m_pCdn->filePath(published.PackageDocument)),
            testsupport::readBytes(m_pCdn->filePath(published.AssetsDocument)),
            m_pServer->url("/cdn/"), m_pServer->url("/cdn/"));
    }

    static int chunkCount(const TPackageConfigurationReader& reader, const QString& path)
    {
        for (const TFileInPackage& file : reader.getFiles())
            if (file.LocalFile == path)
                return int(file.ChunkIndexes.size());
        return -1;
    }

    // As a player's launcher installs: planned, obsolete files deleted, the rest downloaded.
    EPackageDownloaderError install(const TPackageConfigurationReader& remote,
                                    const TPackageConfigurationReader& installed)
    {
        auto package = std::make_shared<TPackage>(0, QJsonObject(), QUrl());
        m_pInstallation = std::make_shared<TPackageInstallation>(package, m_pFilesystem);
        m_pInstallation->setInstallationDirectory(QDir(m_pInstall->path()));
        const TPackageDifference difference = m_pInstallation->computeRequiredChanges(
            QDir(m_pInstall->path()), m_pFilesystem, remote, installed, false);
        if (!difference.m_ErrorMessage.isEmpty())
            qWarning() << difference.m_ErrorMessage;

        QSignalSpy finished(m_pInstallation.get(), &TPackageInstallation::downloadFinished);
        m_pInstallation->onRequiredChangesComputedForInstallation(difference);
        if (finished.isEmpty() && !finished.wait(kWaitMs))
            return EPackageDownloaderError::DownloadFailed;
        return m_pInstallation->getErrorReason();
    }

    std::unique_ptr<testsupport::TTestHttpServer> m_pServer;
    std::unique_ptr<QTemporaryDir> m_pBuild;
    std::unique_ptr<QTemporaryDir> m_pCdn;
    std::unique_ptr<QTemporaryDir> m_pInstall;
    std::unique_ptr<QTemporaryDir> m_pApp;
    std::shared_ptr<TLauncherFilesystemHelper> m_pFilesystem;
    std::shared_ptr<TPackageInstallation> m_pInstallation;
};

QTEST_GUILESS_MAIN(TestPublishInstall)
#include "tst_publishinstall.moc"
