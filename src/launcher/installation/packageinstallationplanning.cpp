// Planning an installation: what the disk already holds, what must be fetched and what goes.
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/crossfilereuse.h"
#include "launcher/installation/documentstaging.h"
#include "launcher/installation/fileplanner.h"
#include "launcher/installation/leftovers.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/logging/logging.h"
#include "launcher/package/installationpath.h"
#include "shared/concurrency/parallelworkers.h"
#include "shared/filesystemhelper/regularfile.h"
#include "shared/platform/threadpriority.h"
#include "shared/signature/documentsignature.h"

#include <QFileInfo>
#include <QMutex>
#include <QtConcurrent>

#include <algorithm>
#include <atomic>
#include <set>
#include <utility>

namespace orvik::launcher {

namespace {

bool listsPath(const TFileInPackageVector& SortedFiles, const QString& Path)
{
    const auto found = std::lower_bound(
        SortedFiles.begin(), SortedFiles.end(), Path,
        [](const TFileInPackage& entry, const QString& path) { return entry.LocalFile < path; });
    return found != SortedFiles.end() && found->LocalFile == Path;
}

std::runtime_error documentError(const QString& Text)
{
    return std::runtime_error(Text.toStdString());
}

// Whether Path is a folder that holds one of the wanted files (Wanted: cleaned paths, sorted).
bool holdsWantedFile(const std::set<QString>& Wanted, const QString& Path)
{
    const QString folder = Path + QLatin1Char('/');
    const auto next = Wanted.lower_bound(folder);
    return next != Wanted.end() && next->startsWith(folder);
}

// The files the launcher keeps in the installation for itself: the markers and the assets
// document, their signatures and the staged copy of a document. Listed by a document, an update
// would write over or delete what records how far the installation got. Each is there both as
// written and as where it lands, so that an entry reaching one through links is caught too.
std::set<QString> launcherFiles(const QDir& InstallationDirectory,
                                const TLauncherSettings& Settings)
{
    std::set<QString> files;
    QHash<QString, QString> folders;
    for (const QString& name :
         {Settings.packageFile, Settings.partialPackageFile, Settings.assetFile}) {
        if (name.isEmpty())
            continue;
        const QString path = QDir::cleanPath(InstallationDirectory.absoluteFilePath(name));
        files.insert(path);
        files.insert(::shared::signature::signaturePath(path));
        if (name == Settings.partialPackageFile)
            files.insert(stagedDocumentPath(path));
    }
    for (const QString& path : std::set<QString>(files))
        files.insert(landingPath(path, folders));
    return files;
}

// Installed files the remote document no longer lists, with paths relative to the installation.
// Its set of wanted paths (one string per file) is gone again before the scan starts.
std::vector<TFileInPackage> obsoleteFiles(::shared::TFileSystemHelper& FileSystem,
                                          const QDir& InstallationDirectory,
                                          const TFileInPackageVector& RemoteFiles,
                                          const TFileInPackageVector& InstalledFiles,
                                          const std::set<QString>& LauncherFiles)
{
    std::vector<TFileInPackage> obsolete;
    if (InstalledFiles.empty())
        return obsolete;
    // Each wanted file both as written and as where it lands: an old entry that reaches a wanted
    // file or a launcher's file through a link in the installation names that file too.
    std::set<QString> wantedPaths;
    QHash<QString, QString> folders;
    for (const TFileInPackage& file : RemoteFiles) {
        const QString path =
            resolveFileInInstallation(FileSystem, InstallationDirectory, file.LocalFile);
        wantedPaths.insert(path);
        wantedPaths.insert(landingPath(path, folders));
    }

    const auto kept = [&](const QString& Path) {
        return wantedPaths.count(Path) > 0 || holdsWantedFile(wantedPaths, Path) ||
               LauncherFiles.count(Path) > 0;
    };
    for (const TFileInPackage& file : InstalledFiles) {
        if (listsPath(RemoteFiles, file.LocalFile))
            continue;
        QString path;
        try {
            path = resolveFileInInstallation(FileSystem, InstallationDirectory, file.LocalFile);
        } catch (const std::runtime_error&) {
            continue; // names no file inside the installation: nothing there to delete
        }
        // Compared cleaned: "bin/./x" or a climbing path that lands on its bare name may be a
        // wanted file just planned, and an old file may now be the folder of wanted files.
        // Deletion removes a folder with its tree, so either would lose what was kept.
        if (kept(path) || kept(landingPath(path, folders)))
            continue;
        TFileInPackage entry = file;
        entry.LocalFile = InstallationDirectory.relativeFilePath(path);
        obsolete.push_back(std::move(entry));
    }
    return obsolete;
}

// The whole document is checked before any file is touched: a plan that fails half-way would
// leave files rearranged for a download that never comes. Returns the bytes on disk the scan will
// read. Its set of paths (one string per file) is gone again before the scan starts.
TFileSize checkedScanTotal(::shared::TFileSystemHelper& FileSystem,
                           const QDir& InstallationDirectory,
                           const TFileInPackageVector& RemoteFiles,
                           const TChunkInPackageVector& RemoteChunks,
                           const std::set<QString>& LauncherFiles)
{
    TFileSize total = 0;
    std::set<QString> paths;
    QHash<QString, QString> folders;
    for (const TFileInPackage& file : RemoteFiles) {
        const QString path =
            resolveFileInInstallation(FileSystem, InstallationDirectory, file.LocalFile);
        if (!paths.insert(path).second)
            throw documentError(
                QStringLiteral("The package document lists '%1' twice.").arg(file.LocalFile));
        // A file below one of them would turn the launcher's file into a folder.
        bool launchers = LauncherFiles.count(landingPath(path, folders)) > 0;
        for (QString at = path;
             !launchers && at.size() > InstallationDirectory.absolutePath().size();
             at = QFileInfo(at).path())
            launchers = LauncherFiles.count(at) > 0;
        if (launchers)
            throw documentError(
                QStringLiteral("The package document lists '%1', a file the launcher keeps for "
                               "itself.")
                    .arg(file.LocalFile));
        for (const qint32 index : file.ChunkIndexes)
            if (index < 0 || size_t(index) >= RemoteChunks.size())
                throw documentError(
                    QStringLiteral("The package document lists chunk %1 for '%2', which does "
                                   "not exist.")
                        .arg(index)
                        .arg(file.LocalFile));
        // Only what the scan reads: a link, a folder or a FIFO in a file's place is fetched whole
        // unread, and counted here it would keep the progress short of its end.
        if (::shared::isRegularFile(path))
            total += TFileSize(QFileInfo(path).size());
    }
    // Writing the file would first remove the folder of the same name with the files planned
    // inside it.
    for (const QString& path : paths)
        if (holdsWantedFile(paths, path))
            throw documentError(
                QStringLiteral("The package document lists '%1' both as a file and as a folder.")
                    .arg(QDir(InstallationDirectory).relativeFilePath(path)));
    return total;
}

struct TWorkerOutcome
{
    std::vector<TFileToDownload> Files;
    QString Error;
};

// The largest files are planned first, so that the workers end together.
std::vector<const TFileInPackage*> largestFirst(const TFileInPackageVector& Files)
{
    std::vector<const TFileInPackage*> work;
    work.reserve(Files.size());
    for (const TFileInPackage& file : Files)
        work.push_back(&file);
    std::sort(work.begin(), work.end(), [](const TFileInPackage* a, const TFileInPackage* b) {
        return a->UnpackedSize > b->UnpackedSize;
    });
    return work;
}

// The workers' plans in one list, without the files that need nothing. Throws the first
// worker's error.
std::vector<TFileToDownload> filesThatNeedData(std::vector<TWorkerOutcome>& Outcomes)
{
    size_t count = 0;
    for (const TWorkerOutcome& outcome : Outcomes)
        count += outcome.Files.size();
    std::vector<TFileToDownload> result;
    result.reserve(count);
    for (TWorkerOutcome& outcome : Outcomes) {
        if (!outcome.Error.isEmpty())
            throw documentError(outcome.Error);
        for (TFileToDownload& file : outcome.Files)
            if (!file.Positions.empty())
                result.push_back(std::move(file));
    }
    return result;
}

} // namespace

void TPackageInstallation::startPlanning(const TPackageConfigurationReader& Remote,
                                         TPackageConfigurationReader Installed, bool FastScan)
{
    m_bPlanningStarted = true;
    const bool removesLeftOvers = m_bRemovesLeftOvers;
    // Held through one pointer and moved on: the task is copied on its way to the pool, and each
    // copy of a document holds a record per file.
    const auto pDocuments =
        std::make_shared<std::pair<TPackageConfigurationReader, TPackageConfigurationReader>>(
            Remote, std::move(Installed));
    m_PlanningWatcher.setFuture(QtConcurrent::run([this, directory = m_InstallationDirectory,
                                                   helper = m_pLauncherFilesystemHelper, pDocuments,
                                                   FastScan, removesLeftOvers]() {
        TPackageConfigurationReader remote = std::move(pDocuments->first);
        TPackageConfigurationReader installed = std::move(pDocuments->second);
        if (removesLeftOvers)
            removeLeftOversOfInterruptedRuns(directory, remote.getFiles(), launcherStartTime());
        auto plan = std::make_shared<TPackageDifference>(computeRequiredChanges(
            directory, helper, std::move(remote), std::move(installed), FastScan));
        // Here rather than when the window's thread takes the plan over: for a package of many
        // small files it takes longer than the window may wait.
        plan->m_PreparedDownload = TDownloadRun::prepare(std::move(plan->m_FilesToDownload));
        plan->m_FilesToDownload = {};
        return plan;
    }));
}

TPackageDifference TPackageInstallation::computeRequiredChanges(
    QDir InstallationDirectory, std::shared_ptr<TLauncherFilesystemHelper> pHelper,
    TPackageConfigurationReader Remote, TPackageConfigurationReader Installed, bool FastScan)
{
    qInfo() << "computeRequiredChanges " << InstallationDirectory.absolutePath()
            << " fast scan: " << FastScan << threadSuffix;
    TPackageDifference difference;
    try {
        // An invalid document has no files: planned as it is, it would delete every installed
        // file.
        if (!Remote.isValid())
            throw documentError(QStringLiteral("The package document was refused: %1")
                                    .arg(Remote.getInvalidReason()));
        ::shared::TFileSystemHelper& fileSystem = pHelper->fileSystem();
        const TFileInPackageVector& remoteFiles = Remote.getFiles();
        difference.m_FilesToDelete =
            obsoleteFiles(fileSystem, InstallationDirectory, remoteFiles, Installed.getFiles(),
                          launcherFiles(InstallationDirectory, *pHelper->settings()));
        difference.m_FilesToDownload = FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
            remoteFiles, Remote.getChunks(), Installed.getFiles(), Installed.getChunks(), FastScan,
            InstallationDirectory, pHelper);
        difference.m_DiskSpace =
            diskSpaceNeededBy(fileSystem, InstallationDirectory, difference.m_FilesToDownload,
                              difference.m_FilesToDelete, *pHelper->settings());
    } catch (const std::exception& error) {
        qWarning() << "computeRequiredChanges failed: " << error.what() << threadSuffix;
        TPackageDifference failed;
        failed.m_ErrorMessage = QString::fromUtf8(error.what());
        return failed;
    }
    qInfo() << "computeRequiredChanges files to download: " << difference.m_FilesToDownload.size()
            << " files to delete: " << difference.m_FilesToDelete.size() << threadSuffix;
    return difference;
}

std::vector<TFileToDownload>
TPackageInstallation::FindFilesInPackageBasedOnHashAndSizeThatNeedUpdate(
    const TFileInPackageVector& RemoteFiles, const TChunkInPackageVector& RemoteChunks,
    const TFileInPackageVector& InstalledFiles, const TChunkInPackageVector& InstalledChunks,
    bool FastScan, const QDir& InstallationDirectory,
    const std::shared_ptr<TLauncherFilesystemHelper>& pHelper)
{
    ::shared::TFileSystemHelper& fileSystem = pHelper->fileSystem();

    const TFileSize total =
        checkedScanTotal(fileSystem, InstallationDirectory, RemoteFiles, RemoteChunks,
                         launcherFiles(InstallationDirectory, *pHelper->settings()));

    // Read before any file is changed: the files that hold them may be moved apart below, or
    // deleted once the planning is done.
    TStagedFiles staged;
    if (!m_pPolicy->replacesWholeFiles())
        stageChunksFromOtherFiles({InstallationDirectory, fileSystem, RemoteFiles, RemoteChunks,
                                   InstalledFiles, InstalledChunks, m_bStopRequested,
                                   PlanningWorkerCount},
                                  staged);

    const std::vector<const TFileInPackage*> work = largestFirst(RemoteFiles);

    const TFileInPackageVector noFiles;
    const TChunkInPackageVector noChunks;
    TScanProgress progress(
        total, [this](TFileSize Done, TFileSize Total) { emit scanProgress(Done, Total); });
    const TPlanningInputs inputs{InstallationDirectory,
                                 fileSystem,
                                 RemoteChunks,
                                 FastScan ? InstalledFiles : noFiles,
                                 FastScan ? InstalledChunks : noChunks,
                                 progress,
                                 m_pPolicy->replacesWholeFiles(),
                                 &staged,
                                 &m_bStopRequested};

    QMutex workMutex;
    size_t next = 0;
    std::atomic<bool> failed{false};
    const auto worker = [&]() -> TWorkerOutcome {
        ::shared::platform::lowerThisThreadsPriority();
        TWorkerOutcome outcome;
        for (;;) {
            const TFileInPackage* file = nullptr;
            {
                QMutexLocker lock(&workMutex);
                // A file being planned is finished first: a move stopped half-way would leave
                // the file matching neither the old nor the new list. Only its reading stops at
                // once, before anything of it was moved.
                if (failed || m_bStopRequested || next >= work.size())
                    return outcome;
                file = work[next++];
            }
            try {
                outcome.Files.push_back(planFile(*file, inputs));
            } catch (const std::exception& error) {
                outcome.Error = QString::fromUtf8(error.what());
                failed = true;
                return outcome;
            }
        }
    };

    std::vector<TWorkerOutcome> outcomes =
        ::shared::runParallelWorkers(PlanningWorkerCount, worker);
    if (m_bStopRequested)
        throw std::runtime_error("Planning stopped: the installation was ended.");
    return filesThatNeedData(outcomes);
}

} // namespace orvik::launcher
