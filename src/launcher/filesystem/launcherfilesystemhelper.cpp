#include "launcher/filesystem/launcherfilesystemhelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace orvik::launcher {

TLauncherFilesystemHelper::TLauncherFilesystemHelper()
    : TLauncherFilesystemHelper(QCoreApplication::applicationDirPath())
{}

TLauncherFilesystemHelper::TLauncherFilesystemHelper(
    const QString& applicationDirectory, std::shared_ptr<::shared::TFileSystemHelper> pFileSystem)
    : m_pFileSystem(pFileSystem ? std::move(pFileSystem)
                                : std::make_shared<::shared::TFileSystemHelper>())
{
    const QString path = settingsFilePath(*m_pFileSystem, applicationDirectory);
    m_pSettings =
        std::make_shared<const TLauncherSettings>(TLauncherSettings::loadFromIniFile(path));
    m_AccountGroupFileName = m_pSettings->accountGroupFile;
    m_AccountGroupRelativePath =
        m_pFileSystem->joinPath({m_pSettings->settingsTarget, m_pSettings->accountGroupFile});
}

QString TLauncherFilesystemHelper::settingsFilePath(::shared::TFileSystemHelper& fileSystem,
                                                    const QString& applicationDirectory)
{
    const QString besideExecutable =
        fileSystem.joinPath({applicationDirectory, settingskeys::kFileName});
    if (QFileInfo::exists(besideExecutable))
        return besideExecutable;
    return settingskeys::kResourceDirectory + settingskeys::kFileName;
}

bool TLauncherFilesystemHelper::accountGroupFileExists()
{
    if (m_AccountGroupFilePath.isEmpty()) {
        const QString dataDirectory =
            QDir(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)).absolutePath();
        m_AccountGroupFilePath = m_pFileSystem->joinPath({dataDirectory, m_AccountGroupFileName});
    }
    return QFile::exists(m_AccountGroupFilePath);
}

} // namespace orvik::launcher
