#pragma once

#include <QFuture>
#include <QThreadPool>
#include <QtConcurrent>

#include <vector>

namespace shared {

// Runs Count copies of Work side by side and returns their results in start order. Count - 1 run
// on the global thread pool and one on the calling thread, which would otherwise only wait: on a
// pool thread, waiting idle would take one of the few pool threads away from the work. A copy
// that has not started when its turn to be collected comes is run by the caller (no deadlock when
// the pool is full). Work must not throw: an exception would have to cross threads.
template <typename F>
auto runParallelWorkers(int Count, const F& Work) -> std::vector<decltype(Work())>
{
    using TResult = decltype(Work());
    std::vector<QFuture<TResult>> futures;
    for (int i = 1; i < Count; ++i)
        futures.push_back(QtConcurrent::run(QThreadPool::globalInstance(), Work));
    std::vector<TResult> results;
    results.reserve(static_cast<size_t>(Count));
    if (Count > 0)
        results.push_back(Work());
    for (QFuture<TResult>& future : futures)
        results.push_back(future.result());
    return results;
}

} // namespace shared
