#pragma once

#include <QByteArray>
#include <QString>

#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace shared {
class TFileSystemHelper;
}

namespace orvik::launcher {

// What the launcher's directory held before a self-update: which of the files that the update
// may touch existed, and the markers' bytes. A failed update puts all of it back, so the directory
// is as it was, byte for byte.
class TLauncherDirectorySnapshot
{
public:
    TLauncherDirectorySnapshot() = default;
    // Files: every file the installed or the new launcher package lists; Markers: the installation
    // markers beside the launcher. Absolute paths inside the launcher's directory.
    TLauncherDirectorySnapshot(::shared::TFileSystemHelper& FileSystem, std::set<QString> Files,
                               const std::vector<QString>& Markers);

    // Removes the ".old" and temporary files that an earlier, interrupted update left of these
    // files, so that every ".old" file from now on is one this update made.
    void removeLeftOvers() const;
    // Moves every ".old" file back, removes files the update created and temporary files, and
    // rewrites the markers. Throws std::runtime_error.
    void restore() const;

    const std::set<QString>& files() const { return m_Files; }

private:
    ::shared::TFileSystemHelper* m_pFileSystem = nullptr;
    std::set<QString> m_Files;
    std::set<QString> m_ExistingFiles;
    std::vector<std::pair<QString, std::optional<QByteArray>>> m_Markers;
};

} // namespace orvik::launcher
