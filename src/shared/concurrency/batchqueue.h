#pragma once

#include <QMutex>

#include <functional>
#include <utility>
#include <vector>

namespace shared {

// Items handed from worker threads to one consumer in batches. The first item of a batch calls
// Wake (typically one queued call to the consumer's thread), and the consumer takes everything
// that came in meanwhile at once, in the order it was added. One event per batch instead of one
// per item: workers that report thousands of small steps do not flood the consumer's event loop.
template <typename T> class TBatchQueue
{
public:
    explicit TBatchQueue(std::function<void()> Wake) : m_Wake(std::move(Wake)) {}

    void add(T Item)
    {
        QMutexLocker lock(&m_Mutex);
        m_Items.push_back(std::move(Item));
        if (m_Items.size() > 1)
            return; // the wake of an earlier item has not been answered yet
        lock.unlock();
        m_Wake();
    }

    // Everything added since the last take, oldest first; may be empty when a wake comes after
    // an earlier take already got its items.
    std::vector<T> take()
    {
        std::vector<T> items;
        QMutexLocker lock(&m_Mutex);
        items.swap(m_Items);
        return items;
    }

private:
    QMutex m_Mutex;
    std::vector<T> m_Items;
    const std::function<void()> m_Wake;
};

} // namespace shared
