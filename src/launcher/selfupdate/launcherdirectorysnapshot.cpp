#include "launcher/selfupdate/launcherdirectorysnapshot.h"

#include "launcher/logging/logging.h"
#include "launcher/selfupdate/oldversion.h"
#include "shared/filesystemhelper/filereplacement.h"
#include "shared/filesystemhelper/filesystemhelper.h"

#include <QFileInfo>

namespace orvik::launcher {

namespace {

bool occupied(const QString& Path)
{
    const QFileInfo info(Path);
    return info.exists() || info.isSymLink();
}

} // namespace

TLauncherDirectorySnapshot::TLauncherDirectorySnapshot(::shared::TFileSystemHelper& FileSystem,
                                                       std::set<QString> Files,
                                                       const std::vector<QString>& Markers)
    : m_pFileSystem(&FileSystem), m_Files(std::move(Files))
{
    for (const QString& file : m_Files)
        if (occupied(file))
            m_ExistingFiles.insert(file);
    for (const QString& marker : Markers) {
        std::optional<QByteArray> bytes;
        if (QFileInfo::exists(marker))
            bytes = FileSystem.readFile(marker);
        m_Markers.emplace_back(marker, std::move(bytes));
    }
}

void TLauncherDirectorySnapshot::removeLeftOvers() const
{
    for (const QString& file : m_Files) {
        if (removeOldVersion(file))
            qInfo() << "Removed the old version of an interrupted update:" << oldVersionPath(file)
                    << threadSuffix;
        ::shared::removeInterruptedWritesOf(file);
    }
    for (const auto& [marker, bytes] : m_Markers)
        ::shared::removeInterruptedWritesOf(marker);
}

void TLauncherDirectorySnapshot::restore() const
{
    qInfo() << "Restoring the launcher's files as they were before the update" << threadSuffix;
    for (const QString& file : m_Files) {
        ::shared::removeInterruptedWritesOf(file);
        if (restoreOldVersion(file))
            continue;
        if (!m_ExistingFiles.count(file) && occupied(file)) {
            qInfo() << "Removing a file of the failed update:" << file << threadSuffix;
            m_pFileSystem->deleteFile(file);
        }
    }
    for (const auto& [marker, bytes] : m_Markers) {
        ::shared::removeInterruptedWritesOf(marker);
        if (bytes) {
            if (!QFileInfo::exists(marker) || m_pFileSystem->readFile(marker) != *bytes)
                m_pFileSystem->writeFileAtomically(marker, *bytes);
        } else if (occupied(marker)) {
            m_pFileSystem->deleteFile(marker);
        }
    }
}

} // namespace orvik::launcher
