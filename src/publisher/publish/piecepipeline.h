#pragma once

#include "publisher/store/containerstore.h"

#include <QFuture>
#include <QThreadPool>

#include <deque>
#include <utility>
#include <vector>

namespace orvik::publisher {

// Packs pieces on worker threads while the caller goes on reading and cutting the build. At most
// a few pieces wait at any time, so memory stays at some chunk sizes whatever the build size.
class TPiecePipeline
{
public:
    TPiecePipeline(const TContainerStore& store, int threads);
    // Waits for the work still running: it holds copies of pieces, never references to us.
    ~TPiecePipeline();
    TPiecePipeline(const TPiecePipeline&) = delete;
    TPiecePipeline& operator=(const TPiecePipeline&) = delete;

    // The piece's position in finish()'s result. Blocks while the pipeline is full; throws
    // TPublisherError once an earlier piece has failed.
    int submit(QByteArray unpacked, const ::shared::TContainerSettings& Codec);
    // Every piece in submission order; throws TPublisherError with the first failure.
    std::vector<TStoredPiece> finish();

private:
    struct TOutcome
    {
        TStoredPiece Piece;
        QString Error; // empty on success
    };

    void collectOldest();
    void throwOnFailure() const;

    TContainerStore m_Store;
    QThreadPool m_Pool;
    std::size_t m_MaxInFlight;
    std::deque<std::pair<int, QFuture<TOutcome>>> m_InFlight;
    std::vector<TStoredPiece> m_Pieces;
    QString m_FirstError;
};

} // namespace orvik::publisher
