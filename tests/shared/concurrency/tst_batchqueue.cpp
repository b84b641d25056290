#include "shared/concurrency/batchqueue.h"

#include <QThread>
#include <QtTest>

#include <atomic>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace {

using TItem = std::pair<int, int>; // worker, sequence number within the worker

} // namespace

class TestBatchQueue : public QObject
{
    Q_OBJECT

private slots:
    void everyItemArrivesOnceInOrder_data()
    {
        QTest::addColumn<int>("workers");
        QTest::addColumn<int>("itemsEach");
        // While the consumer is busy, everything added meanwhile must come in one batch.
        QTest::addColumn<bool>("consumerBusy");
        QTest::newRow("one worker, consumer running") << 1 << 2000 << false;
        QTest::newRow("four workers, consumer running") << 4 << 2000 << false;
        QTest::newRow("four workers, consumer busy") << 4 << 500 << true;
    }
    // Catches a lost wake (items left in the queue with no call coming), items taken twice or
    // out of order, and a wake per item instead of per batch.
    void everyItemArrivesOnceInOrder()
    {
        QFETCH(int, workers);
        QFETCH(int, itemsEach);
        QFETCH(bool, consumerBusy);
        std::vector<TItem> received;
        std::atomic<int> wakes{0};
        QObject consumer;
        std::unique_ptr<shared::TBatchQueue<TItem>> pQueue;
        pQueue = std::make_unique<shared::TBatchQueue<TItem>>([&] {
            ++wakes;
            QMetaObject::invokeMethod(
                &consumer,
                [&] {
                    for (const TItem& item : pQueue->take())
                        received.push_back(item);
                },
                Qt::QueuedConnection);
        });

        std::vector<std::unique_ptr<QThread>> threads;
        for (int worker = 0; worker < workers; ++worker) {
            threads.emplace_back(QThread::create([&, worker] {
                for (int i = 0; i < itemsEach; ++i)
                    pQueue->add({worker, i});
            }));
            threads.back()->start();
        }
        if (consumerBusy) {
            for (const auto& thread : threads)
                QVERIFY(thread->wait(60000));
            QCOMPARE(wakes.load(), 1);
        }
        QTRY_COMPARE_WITH_TIMEOUT(int(received.size()), workers * itemsEach, 60000);
        for (const auto& thread : threads)
            QVERIFY(thread->wait(60000));
        QCoreApplication::processEvents();
        QCOMPARE(int(received.size()), workers * itemsEach);

        std::map<int, int> next;
        for (const TItem& item : received)
            QCOMPARE(item.second, next[item.first]++);
        QVERIFY(wakes.load() <= workers * itemsEach);
    }
};

QTEST_GUILESS_MAIN(TestBatchQueue)
#include "tst_batchqueue.moc"
