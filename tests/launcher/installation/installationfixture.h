#pragma once

#include "launcher/configuration/packageconfigurationreader.h"
#include "launcher/filesystem/launcherfilesystemhelper.h"
#include "launcher/installation/packageinstallation.h"
#include "launcher/package/package.h"
#include "shared/chunker/chunkscanner.h"
#include "shared/hash/sha256.h"

#include "testfiles.h"

#include <QBuffer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>

#include <memory>
#include <vector>

// Builds package documents for the installation tests and the installation under test.
namespace installationfixture {

constexpr quint64 MiB = 1048576;

// The same generator as the chunker test: its content has natural chunk boundaries.
inline QByteArray pseudoRandom(quint64 seed, int length)
{
    QByteArray data(length, Qt::Uninitialized);
    quint64 x = seed;
    for (int i = 0; i < length; ++i) {
        x = x * 6364136223846793005ULL + 1442695040888963407ULL;
        data[i] = char(x >> 56);
    }
    return data;
}

// The content-defined chunks of data, as the publisher cuts them.
inline std::vector<QByteArray> cutIntoChunks(const QByteArray& data)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    std::vector<QByteArray> chunks;
    int offset = 0;
    shared::scanContentDefinedChunks(buffer, [&](const QByteArray&, quint64 length) {
        chunks.push_back(data.mid(offset, int(length)));
        offset += int(length);
    });
    return chunks;
}

class TDocument
{
public:
    // A file downloaded whole.
    void addWholeFile(const QString& localFile, const QByteArray& content)
    {
        QJsonObject file = describe(localFile, content);
        file[QStringLiteral("url")] = QStringLiteral("whole/") + localFile;
        m_Files.append(file);
    }
    // A file assembled from the given chunks; equal chunks share one table entry.
    void addChunkedFile(const QString& localFile, const std::vector<QByteArray>& chunks)
    {
        QByteArray content;
        QJsonArray indexes;
        for (const QByteArray& chunk : chunks) {
            content += chunk;
            indexes.append(chunkIndex(chunk));
        }
        QJsonObject file = describe(localFile, content);
        file[QStringLiteral("chunks")] = indexes;
        m_Files.append(file);
    }
    // A chunked file whose chunk list names the given table positions as they are.
    void addFileWithIndexes(const QString& localFile, const QByteArray& content,
                            const QJsonArray& indexes)
    {
        QJsonObject file = describe(localFile, content);
        file[QStringLiteral("chunks")] = indexes;
        m_Files.append(file);
    }

    // An entry exactly as given, for documents a publisher would never write.
    void addEntry(const QJsonObject& file) { m_Files.append(file); }

    orvik::launcher::TPackageConfigurationReader reader() const
    {
        QJsonObject document;
        document[QStringLiteral("version")] = QStringLiteral("1");
        document[QStringLiteral("files")] = m_Files;
        document[QStringLiteral("chunks")] = m_Chunks;
        return orvik::launcher::TPackageConfigurationReader(
            QJsonDocument(document).toJson(), QByteArray(),
            QUrl(QStringLiteral("http://cdn.test/")), QUrl(QStringLiteral("http://cdn.test/")));
    }

private:
    static QJsonObject describe(const QString& localFile, const QByteArray& content)
    {
        QJsonObject file;
        file[QStringLiteral("localfile")] = localFile;
        file[QStringLiteral("unpackedsize")] = QString::number(content.size());
        file[QStringLiteral("unpackedhash")] = QString::fromLatin1(shared::sha256(content).toHex());
        return file;
    }
    int chunkIndex(const QByteArray& chunk)
    {
        const QByteArray hash = shared::sha256(chunk);
        for (int i = 0; i < m_ChunkHashes.size(); ++i)
            if (m_ChunkHashes[i] == hash)
                return i;
        QJsonObject entry;
        entry[QStringLiteral("url")] =
            QStringLiteral("chunks/") + QString::fromLatin1(hash.toHex());
        entry[QStringLiteral("unpackedsize")] = QString::number(chunk.size());
        entry[QStringLiteral("unpackedhash")] = QString::fromLatin1(hash.toHex());
        m_Chunks.append(entry);
        m_ChunkHashes.append(hash);
        return m_ChunkHashes.size() - 1;
    }

    QJsonArray m_Files;
    QJsonArray m_Chunks;
    QList<QByteArray> m_ChunkHashes;
};

// An installation with settings written into applicationDirectory, so tests choose
// skipVerification.
inline std::shared_ptr<orvik::launcher::TLauncherFilesystemHelper>
helperWithSettings(const QString& applicationDirectory, bool skipVerification)
{
    testsupport::writeBytes(applicationDirectory + QStringLiteral("/launchersettings.ini"),
                            QByteArray("[FILES]\npackageFile=package.json\n"
                                       "partialPackageFile=partial-package.json\n"
                                       "assetFile=assets.json\n[OPTIONS]\nskipVerification=") +
                                (skipVerification ? "true" : "false") + "\n");
    return std::make_shared<orvik::launcher::TLauncherFilesystemHelper>(applicationDirectory);
}

inline std::shared_ptr<orvik::launcher::TPackageInstallation>
makeInstallation(const std::shared_ptr<orvik::launcher::TLauncherFilesystemHelper>& helper,
                 const QString& installationDirectory)
{
    auto package = std::make_shared<orvik::launcher::TPackage>(0, QJsonObject(), QUrl());
    auto installation = std::make_shared<orvik::launcher::TPackageInstallation>(package, helper);
    installation->setInstallationDirectory(QDir(installationDirectory));
    return installation;
}

// Hands the plan over and waits for the end of the download phase, which comes from the
// downloads' thread: false when it did not come once.
inline bool finishDownloadPhase(orvik::launcher::TPackageInstallation& installation,
                                const orvik::launcher::TPackageDifference& plan)
{
    QSignalSpy finished(&installation, &orvik::launcher::TPackageInstallation::downloadFinished);
    installation.onRequiredChangesComputedForInstallation(plan);
    return (finished.count() == 1 || finished.wait(60000)) && finished.count() == 1;
}

} // namespace installationfixture
