#pragma once

#include "launcher/selfupdate/launcherdirectorysnapshot.h"

#include <QDir>
#include <QObject>
#include <QString>

#include <memory>
#include <set>

namespace orvik::launcher {

class TInstallationManager;
class TLauncherConfigurationReader;
class TLauncherFilesystemHelper;
class TPackageConfigurationReader;
class TPackageInstallation;

// Keeps the launcher up to date: installs the launcher package of the launcher configuration into
// the directory of the running launcher, which then restarts. Killed at any moment, the launcher
// still starts the next time, and that start finishes the update; a failed update, or a restart
// that fails, leaves the directory as it was. A package that is not the launcher's own, or a
// folder that cannot be written, is no update at all: the running launcher goes on. Lives on the
// GUI thread.
class TLauncherSelfUpdater : public QObject
{
    Q_OBJECT

public:
    explicit TLauncherSelfUpdater(
        std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    ~TLauncherSelfUpdater() override;

    // Starts the update when the launcher package's version is not this launcher's, or when an
    // earlier update was interrupted (its partial marker is beside the launcher). False when
    // there is nothing to update or the update cannot be made (a refused package, a folder that
    // cannot be written, a failure before the installation ran); the directory is then as it
    // was. Throws std::runtime_error when it cannot be put back.
    bool startSelfUpdate(const std::shared_ptr<TLauncherConfigurationReader>& Configuration);
    // The updated launcher has started: the ".old" files of the files it no longer has are not
    // needed any more.
    void onRestarted();
    // The updated launcher could not be started: the old files go back. False, with
    // diskAccessFailed emitted, when they cannot.
    bool restoreAfterFailedRestart();
    // Removes "X.old" beside the launcher for every file X of the installed launcher package,
    // and nothing else: the launcher may have been unpacked into a folder of the player's own.
    void cleanupOldLauncherVersion();

    // The launcher package's version as compared with this launcher's: "?" when it has none.
    static QString remoteVersion(const TPackageConfigurationReader& Configuration);

signals:
    void updateDownloadFinishedAndRestartRequired();
    void updateFailed();
    void diskAccessFailed(QString ErrorMessage);

public slots:
    void
    onInstallationOrUpdateFinished(orvik::launcher::TPackageInstallation* InstallationInProgress);

private:
    static QDir launcherDirectory();
    // Why nothing can be written into the launcher's folder (a read-only mount, a folder of
    // another user); empty when it can.
    static QString writeProblem();
    void onUpdateDiskAccessFailed(const QString& ErrorMessage);
    // Puts the directory back; false, with diskAccessFailed emitted, when it cannot. Whatever
    // the installation reports afterwards is ignored.
    bool putBack();
    // Puts the directory back and reports the failed update.
    void failUpdate();
    std::set<QString> resolveFiles(const TPackageConfigurationReader& Configuration) const;
    void dropOldVersionsOfDeletedFiles() const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    TInstallationManager* m_pInstallationManager = nullptr;
    // The manager works on its packages.
    std::shared_ptr<TLauncherConfigurationReader> m_pLauncherConfigurationReader;
    TLauncherDirectorySnapshot m_Snapshot;
    std::set<QString> m_NewFiles;
    // The update has failed and was reported; whatever its installation reports later is moot.
    bool m_bFailed = false;
};

} // namespace orvik::launcher
