#pragma once

#include "launcher/settings/launchersettings.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <memory>

namespace orvik::launcher {

// The launcher's file-system door: the shared helper plus the settings it loads on construction.
class TLauncherFilesystemHelper
{
public:
    // Loads "launchersettings.ini" from beside the running executable, else the compiled-in copy.
    TLauncherFilesystemHelper();
    // As above for the given directory; a replacement helper lets tests inject file failures.
    explicit TLauncherFilesystemHelper(
        const QString& applicationDirectory,
        std::shared_ptr<::shared::TFileSystemHelper> pFileSystem = {});

    // The settings file in use: the one in applicationDirectory if it exists, else the resource.
    static QString settingsFilePath(::shared::TFileSystemHelper& fileSystem,
                                    const QString& applicationDirectory);

    ::shared::TFileSystemHelper& fileSystem() const { return *m_pFileSystem; }
    std::shared_ptr<const TLauncherSettings> settings() const { return m_pSettings; }

    // Fixes the account group file's place in the per-user data directory on first use.
    bool accountGroupFileExists();
    const QString& accountGroupFilePath() const { return m_AccountGroupFilePath; }
    const QString& accountGroupRelativePath() const { return m_AccountGroupRelativePath; }

private:
    std::shared_ptr<::shared::TFileSystemHelper> m_pFileSystem;
    std::shared_ptr<const TLauncherSettings> m_pSettings;
    QString m_AccountGroupFilePath;
    QString m_AccountGroupRelativePath;
    QString m_AccountGroupFileName;
};

} // namespace orvik::launcher
