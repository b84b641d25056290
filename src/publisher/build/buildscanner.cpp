#include "publisher/build/buildscanner.h"

#include "publisher/publishererror.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvik::publisher {

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Bytes that are no UTF-8 are shown escaped: the studio must find the file to rename it.
QString shownName(const QByteArray& name)
{
    QString shown;
    for (const char byte : name) {
        const auto value = static_cast<unsigned char>(byte);
        if (value >= 0x20 && value < 0x7f)
            shown += QLatin1Char(byte);
        else
            shown += QStringLiteral("\\x%1").arg(value, 2, 16, QLatin1Char('0'));
    }
    return shown;
}

bool isInside(const QByteArray& path, const QByteArray& root)
{
    return path == root || path.startsWith(root.endsWith('/') ? root : root + '/');
}

QByteArray realPath(const QByteArray& path)
{
    const std::unique_ptr<char, decltype(&std::free)> resolved(
        ::realpath(path.constData(), nullptr), &std::free);
    return resolved ? QByteArray(resolved.get()) : QByteArray();
}

struct TFolderCloser
{
    void operator()(DIR* folder) const { ::closedir(folder); }
};

QString quotedList(const QStringList& paths)
{
    QStringList quoted;
    for (const QString& path : paths)
        quoted << QLatin1Char('\'') + path + QLatin1Char('\'');
    return quoted.join(QStringLiteral(", "));
}

// Walks with the system's own calls: Qt's iterators pass over folders they cannot open and names
// they cannot decode without a word, and a build missing files must not be published.
class TBuildWalker
{
public:
    TBuildWalker(QByteArray root, EBrokenLinks brokenLinks)
        : m_Root(std::move(root)), m_BrokenLinks(brokenLinks)
    {}

    TBuildScan walk()
    {
        walkFolder(m_Root, QString());
        refuseLinks();
        std::sort(m_Scan.Files.begin(), m_Scan.Files.end(),
                  [](const TBuildFile& a, const TBuildFile& b) {
                      return a.RelativePath < b.RelativePath;
                  });
        return std::move(m_Scan);
    }

private:
    void walkFolder(const QByteArray& folder, const QString& relativeFolder)
    {
        const QString shownFolder = relativeFolder.isEmpty() ? QStringLiteral(".") : relativeFolder;
        const std::unique_ptr<DIR, TFolderCloser> directory(::opendir(folder.constData()));
        if (!directory)
            throw TPublisherError(
                QStringLiteral("cannot read folder '%1': %2").arg(shownFolder, systemError(errno)));
        std::vector<QByteArray> names;
        for (;;) {
            errno = 0;
            const dirent* entry = ::readdir(directory.get());
            if (!entry) {
                if (errno != 0)
                    throw TPublisherError(QStringLiteral("cannot read folder '%1': %2")
                                              .arg(shownFolder, systemError(errno)));
                break;
            }
            const QByteArray name(entry->d_name);
            if (name != "." && name != "..")
                names.push_back(name);
        }
        for (const QByteArray& name : names) {
            const QString decoded = QString::fromUtf8(name);
            const QString prefix = relativeFolder.isEmpty() ? QString() : relativeFolder + '/';
            // Invalid sequences decode to replacement characters and do not survive the way back.
            if (decoded.toUtf8() != name)
                throw TPublisherError(
                    QStringLiteral("name '%1' is not valid UTF-8").arg(prefix + shownName(name)));
            visit(folder + '/' + name, prefix + decoded);
        }
    }

    void visit(const QByteArray& path, const QString& relativePath)
    {
        struct stat status
        {
        };
        if (::lstat(path.constData(), &status) != 0)
            throw TPublisherError(
                QStringLiteral("cannot read '%1': %2").arg(relativePath, systemError(errno)));
        if (S_ISDIR(status.st_mode)) {
            walkFolder(path, relativePath);
            return;
        }
        if (S_ISLNK(status.st_mode)) {
            const QByteArray target = realPath(path);
            if (target.isEmpty()) {
                m_Dangling << relativePath;
                return;
            }
            if (!isInside(target, m_Root)) {
                m_Leaving << relativePath;
                return;
            }
            if (::stat(target.constData(), &status) != 0)
                throw TPublisherError(
                    QStringLiteral("cannot read '%1': %2").arg(relativePath, systemError(errno)));
            // A linked folder inside the build is published once, under its real path.
            if (S_ISDIR(status.st_mode))
                return;
        }
        if (!S_ISREG(status.st_mode))
            throw TPublisherError(QStringLiteral("'%1' is not a regular file").arg(relativePath));
        if (::access(path.constData(), R_OK) != 0)
            throw TPublisherError(QStringLiteral("file '%1' is not readable").arg(relativePath));

        TBuildFile file;
        file.RelativePath = relativePath;
        file.NativePath = path;
        file.Stamp = stampOf(status);
        file.Size = file.Stamp.Size;
        file.Executable = (status.st_mode & S_IXUSR) != 0;
        m_Scan.Files.push_back(std::move(file));
    }

    // Every offending link in one message, so that one run shows all the build must lose.
    void refuseLinks()
    {
        m_Dangling.sort();
        m_Leaving.sort();
        QStringList reasons;
        if (m_BrokenLinks == EBrokenLinks::Skip)
            m_Scan.SkippedLinks = m_Dangling;
        else if (m_Dangling.size() == 1)
            reasons << QStringLiteral("symbolic link %1 leads nowhere").arg(quotedList(m_Dangling));
        else if (m_Dangling.size() > 1)
            reasons << QStringLiteral("%1 symbolic links lead nowhere: %2")
                           .arg(m_Dangling.size())
                           .arg(quotedList(m_Dangling));
        if (!reasons.isEmpty())
            reasons.last() += QStringLiteral(" (--skip-broken-links leaves such links out)");
        if (m_Leaving.size() == 1)
            reasons << QStringLiteral("symbolic link %1 leaves the build directory")
                           .arg(quotedList(m_Leaving));
        else if (m_Leaving.size() > 1)
            reasons << QStringLiteral("%1 symbolic links leave the build directory: %2")
                           .arg(m_Leaving.size())
                           .arg(quotedList(m_Leaving));
        if (!reasons.isEmpty())
            throw TPublisherError(reasons.join(QStringLiteral("; ")));
    }

    QByteArray m_Root;
    EBrokenLinks m_BrokenLinks;
    TBuildScan m_Scan;
    QStringList m_Dangling;
    QStringList m_Leaving;
};

} // namespace

TBuildScan scanBuildDirectory(const QString& buildDirectory, EBrokenLinks brokenLinks)
{
    // Links are judged by where they really lead, so the root must be in the same form.
    const QByteArray root = realPath(QFile::encodeName(buildDirectory));
    struct stat status
    {
    };
    if (buildDirectory.isEmpty() || root.isEmpty() || ::stat(root.constData(), &status) != 0 ||
        !S_ISDIR(status.st_mode))
        throw TPublisherError(
            QStringLiteral("build directory '%1' does not exist").arg(buildDirectory));
    return TBuildWalker(root, brokenLinks).walk();
}

} // namespace orvik::publisher
