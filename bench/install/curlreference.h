#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

namespace installbench {

// Where a container's unpacked bytes go: a file of the package and the offset in it.
struct TPlacement
{
    QString RelativePath;
    qint64 Offset = 0;
};

// One container to fetch, as the package document lists it, with every place it fills.
struct TContainer
{
    QUrl Url;
    qint64 PackedSize = 0;
    qint64 UnpackedSize = 0;
    QByteArray UnpackedHash;
    std::vector<TPlacement> Placements;
};

struct TReferenceOutcome
{
    bool Correct = false; // every body fetched, decoded and hashed to its document's digest
    qint64 Milliseconds = 0;
    qint64 FetchMilliseconds = 0; // until the last curl ended
    double CurlCpuSeconds = 0;
    double DecodeCpuSeconds = 0;
    double HashCpuSeconds = 0;
    double WriteCpuSeconds = 0;
};

// Keeps Parallel `curl -s -o FILE URL` processes running until every container is fetched into
// Directory; each finished body is decoded with the container library and hashed on the thread
// pool while the other fetches go on. Timed from the first request to the last digest. With a
// WriteDirectory, each decoded body is first written with pwrite at each of its placements in
// the package's files below it, as an install must, and the digest is taken of those bytes.
TReferenceOutcome runCurlReference(const std::vector<TContainer>& Containers,
                                   const QString& Directory, int Parallel,
                                   const QString& WriteDirectory = QString());

} // namespace installbench
