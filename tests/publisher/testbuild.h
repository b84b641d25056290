#pragma once

// What the publisher tests share: builds made of reproducible bytes, and one way to publish them.

#include "publisher/publish/buildpublisher.h"
#include "shared/container/containercodec.h"

#include "testfiles.h"

#include <QByteArray>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QString>

#include <map>

namespace publishertest {

constexpr int kMiB = 1048576;

// Bytes that do not repeat and do not compress: chunk boundaries fall where the content says.
inline QByteArray pattern(int size, quint32 seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        state = state * 1664525u + 1013904223u;
        bytes[i] = char(state >> 24);
    }
    return bytes;
}

// Relative path -> content.
using TBuildContent = std::map<QString, QByteArray>;

inline bool writeBuild(const QString& directory, const TBuildContent& content,
                       const QString& executable = QString())
{
    for (const auto& [path, bytes] : content)
        if (!testsupport::writeBytes(directory + '/' + path, bytes))
            return false;
    if (!executable.isEmpty()) {
        QFile file(directory + '/' + executable);
        return file.setPermissions(file.permissions() | QFileDevice::ExeOwner |
                                   QFileDevice::ExeGroup | QFileDevice::ExeOther);
    }
    return true;
}

inline orvik::publisher::TPublishOptions options(const QString& build, const QString& cdn,
                                                 const QString& version)
{
    orvik::publisher::TPublishOptions options;
    options.BuildDirectory = build;
    options.CdnDirectory = cdn;
    options.Name = QStringLiteral("game");
    options.Version = version;
    options.Executable = QStringLiteral("bin/game");
    options.Parameters = QStringList{QStringLiteral("-windowed"), QStringLiteral("--lang=en")};
    options.Generation = QStringLiteral("second");
    options.Variant = QStringLiteral("beta");
    options.AssetsPrefixes = QStringList{QStringLiteral("assets/")};
    options.AssetsVersion = QStringLiteral("7");
    options.Threads = 2;
    return options;
}

// Every file below a directory with its content, keyed by relative path.
inline TBuildContent readTree(const QString& directory)
{
    TBuildContent content;
    QDirIterator it(directory, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        content[QDir(directory).relativeFilePath(path)] = testsupport::readBytes(path);
    }
    return content;
}

} // namespace publishertest
