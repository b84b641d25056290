#include "launcher/installation/installationmanager.h"

#include "launcher/configuration/launcherconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/documentstaging.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "launcher/startup/launcherapplication.h"
#include "launcher/telemetry/sharedidentifierfile.h"
#include "shared/filesystemhelper/durability.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"
#include "shared/filesystemhelper/ioerror.h"
#include "shared/network/mirrorset.h"
#include "shared/signature/documentsignature.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFutureWatcher>
#include <QSettings>
#include <QStandardPaths>
#include <QtConcurrent>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace orvik::launcher {

namespace {

const QString kDefaultMarker = QStringLiteral("default");
// The packages whose installation the player paused, in the launcher's own settings.
const QString kPausedKey = QStringLiteral("downloads/paused");

bool hasStatusWorthADefault(ELocalPackageStatus status)
{
    return status == ELocalPackageStatus::PartiallyInstalled ||
           status == ELocalPackageStatus::UpdateAvailable ||
           status == ELocalPackageStatus::Installed;
}

} // namespace

TInstallationManager::TInstallationManager(
    std::shared_ptr<TLauncherConfigurationReader> pLauncherConfigurationReader,
    std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper,
    std::shared_ptr<const TInstallationPolicy> pPolicy)
    : m_pLauncherConfigurationReader(std::move(pLauncherConfigurationReader))
    , m_pLauncherFilesystemHelper(std::move(pLauncherFilesystemHelper))
    , m_pPolicy(std::move(pPolicy))
{
    refreshStatusAndFindDefault();
}

// A staged document is only needed while this run may still write a marker from it.
TInstallationManager::~TInstallationManager()
{
    // Their continuations use this manager: they are dropped, the writes themselves end first.
    for (QFutureWatcherBase* watcher : m_MarkerWrites) {
        watcher->disconnect(this);
        watcher->waitForFinished();
    }
    for (const QString& staged : m_StagedDocuments)
        QFile::remove(staged);
}

void TInstallationManager::refreshStatusAndFindDefault()
{
    bool defaultFound = false;
    for (const auto& package : m_pLauncherConfigurationReader->getPackages()) {
        const ELocalPackageStatus status = computeLocalPackageStatus(*package);
        package->setLocalStatus(status);
        if (!defaultFound && hasStatusWorthADefault(status) &&
            QFileInfo::exists(getInstallationDirectory(*package).filePath(kDefaultMarker))) {
            package->setDefault(true);
            defaultFound = true;
        }
    }
}

std::pair<QString, QString>
TInstallationManager::getInstallationMarkerPaths(const QDir& Directory) const
{
    const auto settings = m_pLauncherFilesystemHelper->settings();
    return {Directory.filePath(settings->partialPackageFile),
            Directory.filePath(settings->packageFile)};
}

QString TInstallationManager::packagesDirectory()
{
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    const QDir dataDirectory(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
    const QString path = fileSystem.resolvePathInsideDirectory(
        dataDirectory, m_pLauncherFilesystemHelper->settings()->packages);
    return fileSystem.createDirectory(path).absolutePath();
}

QDir TInstallationManager::getInstallationDirectory(const TPackage& Package)
{
    if (Package.isLauncherPackage())
        return QDir(QCoreApplication::applicationDirPath());
    // The directory name comes from the configuration document: it must stay below the
    // packages directory.
    return QDir(m_pLauncherFilesystemHelper->fileSystem().resolvePathInsideDirectory(
        QDir(packagesDirectory()), Package.getDirectoryName()));
}

ELocalPackageStatus TInstallationManager::computeLocalPackageStatus(const TPackage& Package)
{
    const TPackageConfigurationReader* remote = Package.getConfiguration();
    if (!Package.getBuildForThisMachine())
        return ELocalPackageStatus::NotInstalled;
    const QDir directory = getInstallationDirectory(Package);
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(directory);
    // A partial marker beside the full one is a run that had not ended: whatever the full marker
    // says, the files may be half way to another version.
    if (QFileInfo::exists(fullMarker) && !QFileInfo::exists(partialMarker)) {
        const TPackageConfigurationReader installed =
            readPackageConfigurationFromInstallationDirectory(directory);
        const QString remoteLabel = remote ? remote->versionLabel() : QString();
        if (installed.versionLabel() != remoteLabel)
            return ELocalPackageStatus::UpdateAvailable;
        // An assets version of "1" marks assets that are always to be brought up to date.
        if (remote && remote->getAssetsVersion() == QLatin1String("1"))
            return ELocalPackageStatus::UpdateAvailable;
        return ELocalPackageStatus::Installed;
    }
    if (QFileInfo::exists(partialMarker))
        return ELocalPackageStatus::PartiallyInstalled;
    return ELocalPackageStatus::NotInstalled;
}

TPackageConfigurationReader
TInstallationManager::readPackageConfigurationFromInstallationDirectory(const QDir& Directory)
{
    const auto settings = m_pLauncherFilesystemHelper->settings();
    qInfo() << "readPackageConfigurationFromInstallationDirectory m_pLauncherFilesystemHelper: "
            << m_pLauncherFilesystemHelper.get() << " launcherSettings: " << settings.get()
            << " installedPackageMarker: " << settings->packageFile
            << " partiallyInstalledPackageMarker: " << settings->partialPackageFile << threadSuffix;
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(Directory);
    const QString assetsPath = Directory.filePath(settings->assetFile);
    QString marker;
    if (QFileInfo::exists(fullMarker)) {
        qInfo() << "FullInstallationMarker " << fullMarker << assetsPath << threadSuffix;
        marker = fullMarker;
    } else if (QFileInfo::exists(partialMarker)) {
        qInfo() << "PartialInstallationMarker " << partialMarker << assetsPath << threadSuffix;
        marker = partialMarker;
    } else {
        return TPackageConfigurationReader();
    }
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    const QUrl base = QUrl::fromLocalFile(Directory.absolutePath() + QLatin1Char('/'));
    TPackageConfigurationReader installed(fileSystem.readFile(marker),
                                          fileSystem.readFileIfExists(assetsPath), base, base);
    // No marker is ever written from an installed configuration.
    installed.releaseDocumentData();
    return installed;
}

namespace {

void renameOrThrow(const QString& from, const QString& to)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        throw ::shared::ioError(from, QString::fromLocal8Bit(std::strerror(errno)));
}

} // namespace

void TInstallationManager::moveFullMarkerToPartial(const QDir& Directory) const
{
    // One rename that replaces the partial marker: at no moment is there no marker at all.
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(Directory);
    renameOrThrow(fullMarker, partialMarker);
    const QString fullSignature = ::shared::signature::signaturePath(fullMarker);
    if (QFileInfo::exists(fullSignature))
        renameOrThrow(fullSignature, ::shared::signature::signaturePath(partialMarker));
    // Before any installed file changes: a power cut must not bring the full marker back over
    // files half way to another version.
    ::shared::syncDirectory(Directory.absolutePath());
}

void TInstallationManager::writeDocument(const QString& Path, const QByteArray& Document,
                                         const QByteArray& Signature) const
{
    m_pLauncherFilesystemHelper->fileSystem().writeFileAtomically(Path, Document);
    writeSignature(Path, Signature);
}

void TInstallationManager::writeDocumentFrom(const QString& Path, const QStringList& Candidates,
                                             const QByteArray& Digest,
                                             const QByteArray& Signature) const
{
    // A file that holds the bytes already is left as it is.
    const QString source = findDocument(Candidates, Digest);
    if (source != Path)
        ::shared::copyFileAtomically(source, Path);
    writeSignature(Path, Signature);
}

void TInstallationManager::writeSignature(const QString& DocumentPath,
                                          const QByteArray& Signature) const
{
    // A folder that is not the installation's own may be the player's: nothing is added there.
    if (Signature.isEmpty() || !m_pPolicy->ownsDirectory())
        return;
    // Written after the document: a crash in between leaves a pair that does not match, which
    // an offline start refuses rather than trusts.
    m_pLauncherFilesystemHelper->fileSystem().writeFileAtomically(
        ::shared::signature::signaturePath(DocumentPath), Signature);
}

TInstallationManager::TMarkerDocuments
TInstallationManager::markerDocumentsOf(const TPackageConfigurationReader& Remote)
{
    return {Remote.isDocumentDataReleased(), Remote.getPackageData(),   Remote.getPackageDigest(),
            Remote.getPackageSignature(),    Remote.hasAssetData(),     Remote.getAssetData(),
            Remote.getAssetDigest(),         Remote.getAssetSignature()};
}

void TInstallationManager::writeAssetsDocument(const QDir& Directory,
                                               const TMarkerDocuments& Documents) const
{
    // An empty assets document leaves the installed one as it is.
    if (!Documents.HasAssets)
        return;
    const QString path = Directory.filePath(m_pLauncherFilesystemHelper->settings()->assetFile);
    // Released only once written here; nothing else writes this file.
    if (Documents.Released)
        writeDocumentFrom(path, {path}, Documents.AssetDigest, Documents.AssetSignature);
    else
        writeDocument(path, Documents.AssetData, Documents.AssetSignature);
}

void TInstallationManager::writePackageDocument(const QString& Path,
                                                const TMarkerDocuments& Documents,
                                                const QDir& Directory) const
{
    if (!Documents.Released) {
        writeDocument(Path, Documents.PackageData, Documents.PackageSignature);
        return;
    }
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(Directory);
    writeDocumentFrom(Path, {stagedDocumentPath(partialMarker), partialMarker, fullMarker},
                      Documents.PackageDigest, Documents.PackageSignature);
}

void TInstallationManager::stageRemoteDocuments(const TPackage& Package,
                                                TPackageConfigurationReader& Remote,
                                                const QDir& Directory)
{
    // A folder that is not the installation's own may be the player's: nothing is added there.
    // The launcher's documents are small anyway.
    if (!m_pPolicy->ownsDirectory() || Package.isLauncherPackage())
        return;
    // Released earlier in this run, the bytes are still in the partial marker or staged.
    if (Remote.isDocumentDataReleased())
        return;
    const QByteArray document = Remote.getPackageData();
    Remote.releaseDocumentData();
    // Until the download is done the partial marker holds what is on disk, which in an update is
    // the installed document: only then is a copy kept.
    const QString partialMarker = getInstallationMarkerPaths(Directory).first;
    if (holdsDocument(partialMarker, Remote.getPackageDigest()))
        return;
    const QString staged = stagedDocumentPath(partialMarker);
    // Not made crash-safe: a torn copy fails its digest and is never written on.
    m_pLauncherFilesystemHelper->fileSystem().writeFile(staged, document);
    m_StagedDocuments.insert(staged);
}

void TInstallationManager::unstageRemoteDocuments(const QDir& Directory)
{
    const QString staged = stagedDocumentPath(getInstallationMarkerPaths(Directory).first);
    if (m_StagedDocuments.erase(staged) > 0 && QFileInfo::exists(staged))
        m_pLauncherFilesystemHelper->fileSystem().deleteFile(staged);
}

void TInstallationManager::markPackageAsPartiallyInstalled(TPackage& Package,
                                                           TPackageConfigurationReader& Remote)
{
    qInfo() << "markPackageAsPartiallyInstalled: " << Package.getName() << threadSuffix;
    const QDir directory = getInstallationDirectory(Package);
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(directory);
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    fileSystem.createDirectory(directory.absolutePath());
    if (QFileInfo::exists(fullMarker)) {
        moveFullMarkerToPartial(directory);
    } else if (!QFileInfo::exists(partialMarker)) {
        writePackageDocument(partialMarker, markerDocumentsOf(Remote), directory);
    }
    writeAssetsDocument(directory, markerDocumentsOf(Remote));
    stageRemoteDocuments(Package, Remote, directory);
    Package.setLocalStatus(ELocalPackageStatus::PartiallyInstalled);
}

void TInstallationManager::writePartialMarker(const QDir& Directory,
                                              const TMarkerDocuments& Documents) const
{
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(Directory);
    if (QFileInfo::exists(fullMarker))
        moveFullMarkerToPartial(Directory);
    writePackageDocument(partialMarker, Documents, Directory);
    writeAssetsDocument(Directory, Documents);
}

void TInstallationManager::makeFilesDurable(const QDir& Directory,
                                            const TFileInPackageVector& Files) const
{
    // Verified is not yet durable: the files were written through the system's cache, and a
    // power cut after the marker would leave a marker that calls empty or old files complete.
    QElapsedTimer timer;
    timer.start();
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    QStringList paths;
    paths.reserve(int(Files.size()));
    for (const TFileInPackage& file : Files)
        paths.append(resolveFileInInstallation(fileSystem, Directory, file.LocalFile));
    ::shared::makeDurable(Directory.absolutePath(), paths);
    qInfo() << "Installation made durable:" << paths.size() << "files in" << timer.elapsed() << "ms"
            << threadSuffix;
}

void TInstallationManager::writeFullMarker(const QDir& Directory,
                                           const TMarkerDocuments& Documents) const
{
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(Directory);
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    // Assets first, then the full marker, then away with the partial one: a crash in between
    // leaves a state that the next start reads as what it is.
    writeAssetsDocument(Directory, Documents);
    writePackageDocument(fullMarker, Documents, Directory);
    if (QFileInfo::exists(partialMarker))
        fileSystem.deleteFile(partialMarker);
    const QString partialSignature = ::shared::signature::signaturePath(partialMarker);
    if (QFileInfo::exists(partialSignature))
        fileSystem.deleteFile(partialSignature);
    ::shared::syncDirectory(Directory.absolutePath());
}

void TInstallationManager::writeMarkerOffThread(std::function<void()> Write,
                                                std::function<void(const QString& Error)> Then)
{
    // Markers are synced to the disk: behind the gigabytes an installation just wrote, that can
    // take seconds, and the window would not answer meanwhile. The write reads only its
    // arguments; what follows runs here again.
    auto* watcher = new QFutureWatcher<QString>(this);
    m_MarkerWrites.insert(watcher);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, Then = std::move(Then)] {
        m_MarkerWrites.erase(watcher);
        watcher->deleteLater();
        Then(watcher->result());
    });
    watcher->setFuture(QtConcurrent::run([Write = std::move(Write)]() -> QString {
        // Nothing thrown here may reach another thread: the failure travels as its message.
        try {
            Write();
            return QString();
        } catch (const std::exception& error) {
            const QString message = QString::fromUtf8(error.what());
            return message.isEmpty() ? QStringLiteral("Writing a marker failed.") : message;
        }
    }));
}

std::shared_ptr<TPackageInstallation>
TInstallationManager::findInstallation(const QString& Name) const
{
    for (const auto& installation : m_InstallationsInProgress) {
        if (installation->getPackage()->getName() == Name)
            return installation;
    }
    return nullptr;
}

std::shared_ptr<TPackageInstallation>
TInstallationManager::createInstallation(const std::shared_ptr<TPackage>& Package,
                                         TPackageConfigurationReader& Installed, bool bChangesFiles)
{
    TPackageConfigurationReader* remote = Package->getConfiguration();
    const QDir directory = getInstallationDirectory(*Package);
    Installed = readPackageConfigurationFromInstallationDirectory(directory);
    if (bChangesFiles)
        markPackageAsPartiallyInstalled(*Package, *remote);

    auto installation =
        std::make_shared<TPackageInstallation>(Package, m_pLauncherFilesystemHelper);
    installation->setInstallationDirectory(directory);
    // A folder that is not the installation's own may hold the player's files, such as their
    // downloads: nothing there is swept.
    installation->setRemovesLeftOvers(m_pPolicy->ownsDirectory());
    installation->setRemoteVersionLabel(remote->versionLabel());
    installation->setInstalledVersionLabel(Installed.versionLabel());
    installation->setPolicy(m_pPolicy);
    if (m_MaxDownloadRate)
        installation->setMaxDownloadRate(*m_MaxDownloadRate);
    if (m_pLauncherConfigurationReader && !m_pLauncherConfigurationReader->getMirrors().empty())
        installation->setMirrors(
            std::make_shared<::shared::TMirrorSet>(m_pLauncherConfigurationReader->getBaseUrl(),
                                                   m_pLauncherConfigurationReader->getMirrors()));
    return installation;
}

void TInstallationManager::installOrUpdatePackage(const std::shared_ptr<TPackage>& Package)
{
    qInfo() << "installOrUpdatePackage: " << Package->getName() << threadSuffix;
    if (findInstallation(Package->getName()) || !Package->getConfiguration())
        return;
    rememberPause(Package->getName(), false);

    // The quick check is only worth it when the package was complete before.
    const bool fastScan =
        m_pLauncherFilesystemHelper->settings()->fastScan &&
        computeLocalPackageStatus(*Package) == ELocalPackageStatus::UpdateAvailable;
    TPackageConfigurationReader installed;
    const auto installation = createInstallation(Package, installed);

    connect(installation.get(), &TPackageInstallation::downloadFinished, this,
            &TInstallationManager::onDownloadFinished);
    connect(installation.get(), &TPackageInstallation::verificationFinished, this,
            &TInstallationManager::onVerificationFinished);
    track(installation);

    // From the event loop: called while the documents' download is being reported (an automatic
    // installation is), the document bytes just let go would be held by that report until it
    // returns, beside the planning's copy of the records.
    auto pInstalled = std::make_shared<TPackageConfigurationReader>(std::move(installed));
    QMetaObject::invokeMethod(
        this,
        [pInstallation = std::weak_ptr<TPackageInstallation>(installation), Package, pInstalled,
         fastScan] {
            const auto installation = pInstallation.lock();
            if (installation && Package->getConfiguration())
                installation->startPlanning(*Package->getConfiguration(), std::move(*pInstalled),
                                            fastScan);
        },
        Qt::QueuedConnection);
}

void TInstallationManager::recordRepairRequest(TPackage& Package)
{
    const QDir directory = getInstallationDirectory(Package);
    if (QFileInfo::exists(getInstallationMarkerPaths(directory).second))
        moveFullMarkerToPartial(directory);
    Package.setLocalStatus(computeLocalPackageStatus(Package));
}

void TInstallationManager::verifyPackage(const std::shared_ptr<TPackage>& Package)
{
    qInfo() << "verifyPackage: " << Package->getName() << threadSuffix;
    if (findInstallation(Package->getName()) || !Package->getConfiguration())
        return;
    // Reading changes nothing: the markers stay as they are unless damage is found, so that a
    // Verify stopped half way leaves an intact game playable.
    TPackageConfigurationReader installed;
    const auto installation = createInstallation(Package, installed, false);

    connect(installation.get(), &TPackageInstallation::downloadFinished, this,
            &TInstallationManager::onDownloadFinished);
    connect(installation.get(), &TPackageInstallation::verificationFinished, this,
            &TInstallationManager::onVerificationFinished);
    track(installation);
    installation->startVerification(installed, true);
}

void TInstallationManager::pauseInstallation(const TPackage& Package)
{
    if (const auto installation = findInstallation(Package.getName())) {
        rememberPause(Package.getName(), true);
        installation->stop();
    }
}

void TInstallationManager::cancelInstallation(const TPackage& Package)
{
    rememberPause(Package.getName(), false);
    if (const auto installation = findInstallation(Package.getName()))
        installation->stop();
}

bool TInstallationManager::isPaused(const TPackage& Package) const
{
    return QSettings().value(kPausedKey).toStringList().contains(Package.getName());
}

void TInstallationManager::rememberPause(const QString& PackageName, bool Paused)
{
    QSettings settings;
    QStringList paused = settings.value(kPausedKey).toStringList();
    if (paused.contains(PackageName) == Paused)
        return;
    if (Paused)
        paused.append(PackageName);
    else
        paused.removeAll(PackageName);
    if (paused.isEmpty())
        settings.remove(kPausedKey);
    else
        settings.setValue(kPausedKey, paused);
    // Now, not at exit: a launcher that is killed or crashes must still know about the pause.
    settings.sync();
    if (settings.status() != QSettings::NoError)
        qWarning() << "Could not keep the pause of" << PackageName << "in" << settings.fileName()
                   << threadSuffix;
}

void TInstallationManager::setMaxDownloadRate(qint64 BytesPerSecond)
{
    m_MaxDownloadRate = std::max<qint64>(BytesPerSecond, 0);
    qInfo() << "Download speed limit:" << *m_MaxDownloadRate << "bytes per second" << threadSuffix;
    for (const auto& installation : m_InstallationsInProgress)
        installation->setMaxDownloadRate(*m_MaxDownloadRate);
}

void TInstallationManager::track(const std::shared_ptr<TPackageInstallation>& Installation)
{
    m_InstallationsInProgress.push_back(Installation);
    connect(Installation.get(), &TPackageInstallation::diskAccessFailed, this,
            &TInstallationManager::onDiskAccessFailed);
    emit installationOrUpdateStarted(Installation.get());
}

void TInstallationManager::onDiskAccessFailed(QString ErrorMessage)
{
    emit diskAccessFailed(ErrorMessage);
}

void TInstallationManager::onDownloadFinished(std::shared_ptr<TPackage> PackageBeingInstalled)
{
    qInfo() << "onDownloadFinished: " << PackageBeingInstalled->getName() << threadSuffix;
    const auto installation = findInstallation(PackageBeingInstalled->getName());
    if (!installation)
        return;
    qInfo() << "onDownloadFinished found: " << PackageBeingInstalled->getName()
            << " InstallationsInProgress: " << m_InstallationsInProgress.size() << threadSuffix;
    if (!installation->isWithoutError()) {
        finishInstallation(installation);
        return;
    }
    qInfo() << "updatePartiallyInstalledPackage: " << PackageBeingInstalled->getName()
            << threadSuffix;
    const QDir directory = getInstallationDirectory(*PackageBeingInstalled);
    const TPackageConfigurationReader* remote = PackageBeingInstalled->getConfiguration();
    writeMarkerOffThread(
        [this, directory, documents = markerDocumentsOf(*remote)] {
            writePartialMarker(directory, documents);
        },
        [this, installation, PackageBeingInstalled, directory](const QString& Error) {
            if (!Error.isEmpty()) {
                emit diskAccessFailed(Error);
                finishInstallation(installation);
                return;
            }
            PackageBeingInstalled->setLocalStatus(ELocalPackageStatus::PartiallyInstalled);
            startVerificationAfterDownload(installation, *PackageBeingInstalled, directory);
        });
}

void TInstallationManager::startVerificationAfterDownload(
    const std::shared_ptr<TPackageInstallation>& Installation, const TPackage& Package,
    const QDir& Directory)
{
    try {
        const TPackageConfigurationReader* remote = Package.getConfiguration();
        // The documents just written are those the package holds parsed: read back, a large
        // package's records would be held twice. Only assets kept from an earlier version (the
        // remote build has none) must come from the disk.
        const bool writtenAsHeld =
            remote && (remote->hasAssetData() ||
                       !QFileInfo::exists(
                           Directory.filePath(m_pLauncherFilesystemHelper->settings()->assetFile)));
        TPackageConfigurationReader readBack;
        if (!writtenAsHeld)
            readBack = readPackageConfigurationFromInstallationDirectory(Directory);
        const TPackageConfigurationReader& local = writtenAsHeld ? *remote : readBack;
        qInfo() << "onDownloadFinished LocalConfiguration: " << local.getFiles().size()
                << threadSuffix;
        sendFunnelEvent(QStringLiteral("launcher_downloaded"),
                        QStringLiteral("FunnelFinishedDownloadingFirst"));
        Installation->startVerification(local, false);
        return;
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
    finishInstallation(Installation);
}

void TInstallationManager::onVerificationFinished(std::shared_ptr<TPackage> PackageBeingInstalled)
{
    qInfo() << "onVerificationFinished: " << PackageBeingInstalled->getName() << threadSuffix;
    const auto installation = findInstallation(PackageBeingInstalled->getName());
    if (!installation)
        return;
    qInfo() << "onVerificationFinished found package: " << PackageBeingInstalled->getName()
            << " without error: " << (installation->isWithoutError() ? "true" : "false")
            << threadSuffix;
    if (!installation->isWithoutError()) {
        if (installation->isVerificationOnly() &&
            installation->getErrorReason() == EPackageDownloaderError::VerificationFailed)
            repair(installation, *PackageBeingInstalled);
        else
            endVerification(installation, PackageBeingInstalled);
        return;
    }
    const QDir directory = getInstallationDirectory(*PackageBeingInstalled);
    const auto [partialMarker, fullMarker] = getInstallationMarkerPaths(directory);
    if (installation->isVerificationOnly() && QFileInfo::exists(fullMarker) &&
        !QFileInfo::exists(partialMarker)) {
        // An intact game whose markers were never touched: there is nothing to write.
        endVerification(installation, PackageBeingInstalled);
        return;
    }
    qInfo() << "markPackageAsFullyInstalled: " << PackageBeingInstalled->getName() << threadSuffix;
    const TPackageConfigurationReader& remote = *PackageBeingInstalled->getConfiguration();
    writeMarkerOffThread(
        // A copy of the reader shares its records: nothing of the file list is copied here.
        [this, directory, documents = markerDocumentsOf(remote), configuration = remote] {
            makeFilesDurable(directory, configuration.getFiles());
            writeFullMarker(directory, documents);
        },
        [this, installation, PackageBeingInstalled, directory](const QString& Error) {
            if (Error.isEmpty()) {
                // From now on the full marker holds the document: an installed package keeps no
                // copy.
                unstageRemoteDocuments(directory);
                PackageBeingInstalled->setLocalStatus(ELocalPackageStatus::Installed);
                sendFunnelEvent(QStringLiteral("launcher_verified"),
                                QStringLiteral("FunnelFinished_VerifyingFirst"));
            } else {
                emit diskAccessFailed(Error);
            }
            endVerification(installation, PackageBeingInstalled);
        });
}

void TInstallationManager::repair(const std::shared_ptr<TPackageInstallation>& Installation,
                                  TPackage& Package)
{
    TPackageConfigurationReader* remote = Package.getConfiguration();
    if (!remote) {
        endVerification(Installation, Installation->getPackage());
        return;
    }
    try {
        // Recorded before the first file changes: whatever happens from here, the game is not
        // started as installed until the repair has passed its own verification.
        markPackageAsPartiallyInstalled(Package, *remote);
        Installation->startRepair(*remote);
        return;
    } catch (const std::runtime_error& error) {
        emit diskAccessFailed(QString::fromUtf8(error.what()));
    }
    endVerification(Installation, Installation->getPackage());
}

void TInstallationManager::endVerification(
    const std::shared_ptr<TPackageInstallation>& Installation,
    const std::shared_ptr<TPackage>& Package)
{
    Package->setCheckedThisSession(true);
    // The client of a verified package finds the launcher's device identifier beside it.
    if (Installation->isWithoutError() && m_pLauncherFilesystemHelper->settings()->telemetry)
        copySharedIdentifierFileInto(getInstallationDirectory(*Package));
    finishInstallation(Installation);
}

void TInstallationManager::finishInstallation(
    const std::shared_ptr<TPackageInstallation>& Installation)
{
    emit installationOrUpdateFinished(Installation.get());
    disconnect(Installation.get(), &TPackageInstallation::diskAccessFailed, this,
               &TInstallationManager::onDiskAccessFailed);
    m_InstallationsInProgress.erase(std::remove(m_InstallationsInProgress.begin(),
                                                m_InstallationsInProgress.end(), Installation),
                                    m_InstallationsInProgress.end());
    if (m_InstallationsInProgress.empty())
        emit allStartedUpdatesFinished();
}

void TInstallationManager::setDefaultPackage(const std::shared_ptr<TPackage>& Package)
{
    auto& fileSystem = m_pLauncherFilesystemHelper->fileSystem();
    for (const auto& package : m_pLauncherConfigurationReader->getPackages()) {
        package->setLocalStatus(computeLocalPackageStatus(*package));
        const QString marker = getInstallationDirectory(*package).filePath(kDefaultMarker);
        if (QFileInfo::exists(marker))
            fileSystem.deleteFile(marker);
        package->setDefault(false);
    }
    if (!Package)
        return;
    const QDir directory =
        fileSystem.createDirectory(getInstallationDirectory(*Package).absolutePath());
    fileSystem.writeFileAtomically(directory.filePath(kDefaultMarker), QByteArray());
    Package->setDefault(true);
}

std::shared_ptr<TPackage> TInstallationManager::getDefaultPackage() const
{
    for (const auto& package : m_pLauncherConfigurationReader->getPackages()) {
        if (package->isDefault())
            return package;
    }
    return nullptr;
}

QString TInstallationManager::getExecutablePath(const TPackage& Package)
{
    const TPackageConfigurationReader* remote = Package.getConfiguration();
    if (!remote || remote->getExecutable().isEmpty())
        return {};
    // The executable comes from a document: it must not name a program outside the package.
    return m_pLauncherFilesystemHelper->fileSystem().resolvePathInsideDirectory(
        getInstallationDirectory(Package), remote->getExecutable());
}

std::shared_ptr<TPackage> TInstallationManager::findPackageByExecutablePath(const QString& Path)
{
    const QString wanted = QDir::cleanPath(Path);
    for (const auto& package : m_pLauncherConfigurationReader->getPackages()) {
        const QString executable = getExecutablePath(*package);
        if (!executable.isEmpty() && QDir::cleanPath(executable) == wanted)
            return package;
    }
    return nullptr;
}

void TInstallationManager::sendFunnelEvent(const QString& Step, const QString& FirstFlagKey)
{
    if (TLauncherApplication* application = TLauncherApplication::instance())
        application->sendFunnelEvent(Step, FirstFlagKey);
}

} // namespace orvik::launcher
