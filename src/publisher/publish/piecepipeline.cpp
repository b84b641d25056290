#include "publisher/publish/piecepipeline.h"

#include "publisher/publishererror.h"

#include <QtConcurrent>

#include <algorithm>
#include <exception>

namespace orvik::publisher {

TPiecePipeline::TPiecePipeline(const TContainerStore& store, int threads) : m_Store(store)
{
    m_Pool.setMaxThreadCount(std::max(1, threads > 0 ? threads : QThread::idealThreadCount()));
    // Two per thread keep every worker busy while the reader cuts the next piece.
    m_MaxInFlight = std::size_t(m_Pool.maxThreadCount()) * 2;
}

TPiecePipeline::~TPiecePipeline()
{
    m_Pool.waitForDone();
}

int TPiecePipeline::submit(QByteArray unpacked, const ::shared::TContainerSettings& Codec)
{
    throwOnFailure();
    while (m_InFlight.size() >= m_MaxInFlight)
        collectOldest();
    throwOnFailure();

    const int id = int(m_Pieces.size());
    m_Pieces.emplace_back();
    const TContainerStore store = m_Store;
    // The outcome carries failures back: nothing may be thrown across the worker thread.
    m_InFlight.emplace_back(
        id, QtConcurrent::run(&m_Pool, [store, data = std::move(unpacked), Codec]() -> TOutcome {
            try {
                return {store.store(data, Codec), {}};
            } catch (const std::exception& error) {
                return {{}, QString::fromUtf8(error.what())};
            } catch (...) {
                return {{}, QStringLiteral("unknown failure while packing a piece")};
            }
        }));
    return id;
}

std::vector<TStoredPiece> TPiecePipeline::finish()
{
    while (!m_InFlight.empty())
        collectOldest();
    throwOnFailure();
    return std::move(m_Pieces);
}

void TPiecePipeline::collectOldest()
{
    auto [id, future] = std::move(m_InFlight.front());
    m_InFlight.pop_front();
    TOutcome outcome = future.result();
    if (!outcome.Error.isEmpty() && m_FirstError.isEmpty())
        m_FirstError = outcome.Error;
    m_Pieces[std::size_t(id)] = std::move(outcome.Piece);
}

void TPiecePipeline::throwOnFailure() const
{
    if (!m_FirstError.isEmpty())
        throw TPublisherError(m_FirstError);
}

} // namespace orvik::publisher
