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
// still starts the next time, and that start finishes the update; a failed update leaves the
// directory as it was. Lives on the GUI thread.
class TLauncherSelfUpdater : public QObject
{
    Q_OBJECT

public:
    explicit TLauncherSelfUpdater(
        std::shared_ptr<TLauncherFilesystemHelper> pLauncherFilesystemHelper);
    ~TLauncherSelfUpdater() override;

    // Starts the update when the launcher package's version is not this launcher's, or when an
    // earlier update was interrupted (its partial marker is beside the launcher). False when
    // there is nothing to update. Throws std::runtime_error when the directory cannot be read.
    bool startSelfUpdate(const std::shared_ptr<TLauncherConfigurationReader>& Configuration);
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
    std::set<QString> resolveFiles(const TPackageConfigurationReader& Configuration) const;
    void dropOldVersionsOfDeletedFiles() const;

    std::shared_ptr<TLauncherFilesystemHelper> m_pLauncherFilesystemHelper;
    TInstallationManager* m_pInstallationManager = nullptr;
    // The manager works on its packages.
    std::shared_ptr<TLauncherConfigurationReader> m_pLauncherConfigurationReader;
    TLauncherDirectorySnapshot m_Snapshot;
    std::set<QString> m_NewFiles;
};

} // namespace orvik::launcher
