#include "shared/concurrency/parallelworkers.h"

#include <QAtomicInt>
#include <QFutureWatcher>
#include <QSignalSpy>
#include <QtTest>

#include <numeric>

class TestParallelWorkers : public QObject
{
    Q_OBJECT

private slots:
    void cleanup()
    {
        QThreadPool::globalInstance()->setMaxThreadCount(QThread::idealThreadCount());
    }

    // The planning waits for its workers on a pool thread. With a pool of one thread, a caller
    // that only waited for queued workers would wait forever.
    void finishesOnAFullPool_data()
    {
        QTest::addColumn<int>("poolThreads");
        QTest::newRow("one pool thread") << 1;
        QTest::newRow("two pool threads") << 2;
    }
    void finishesOnAFullPool()
    {
        QFETCH(int, poolThreads);
        QThreadPool::globalInstance()->setMaxThreadCount(poolThreads);
        QAtomicInt remaining(100);
        QFutureWatcher<std::vector<int>> watcher;
        QSignalSpy finished(&watcher, &QFutureWatcherBase::finished);
        watcher.setFuture(QtConcurrent::run([&remaining] {
            return shared::runParallelWorkers(6, [&remaining] {
                int taken = 0;
                while (remaining.fetchAndSubOrdered(1) > 0)
                    ++taken;
                return taken;
            });
        }));
        QVERIFY(finished.wait(60000));
        const std::vector<int> results = watcher.result();
        // Every worker reports, and together they took every item exactly once.
        QCOMPARE(int(results.size()), 6);
        QCOMPARE(std::accumulate(results.begin(), results.end(), 0), 100);
    }
};

QTEST_GUILESS_MAIN(TestParallelWorkers)
#include "tst_parallelworkers.moc"
