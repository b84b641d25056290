#pragma once

#include <QByteArray>
#include <QString>
#include <QUrl>

#include <vector>

namespace installbench {

// One container to fetch, as the package document lists it.
struct TContainer
{
    QUrl Url;
    qint64 PackedSize = 0;
    qint64 UnpackedSize = 0;
    QByteArray UnpackedHash;
};

struct TReferenceOutcome
{
    bool Correct = false; // every body fetched, decoded and hashed to its document's digest
    qint64 Milliseconds = 0;
    qint64 FetchMilliseconds = 0; // until the last curl ended
    double CurlCpuSeconds = 0;
    double DecodeCpuSeconds = 0;
    double HashCpuSeconds = 0;
};

// Keeps Parallel `curl -s -o FILE URL` processes running until every container is fetched into
// Directory; each finished body is decoded with the container library and hashed on the thread
// pool while the other fetches go on. Timed from the first request to the last digest.
TReferenceOutcome runCurlReference(const std::vector<TContainer>& Containers,
                                   const QString& Directory, int Parallel);

} // namespace installbench
