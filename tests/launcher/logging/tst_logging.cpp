#include "launcher/logging/logging.h"

#include "testfiles.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <QtConcurrent>
#include <QtTest>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace orvik::launcher;

namespace {

QStringList logLines()
{
    flushLog(); // lines are written on the writer's thread
    const QString text = QString::fromUtf8(testsupport::readBytes(logFilePath()));
    return text.split('\n', Qt::SkipEmptyParts);
}

const QString kTimeAndLocation =
    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d \\(:0\\) ");

} // namespace

class TestLogging : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { testsupport::useLauncherIdentity(); }

    void logFileIsNamedAfterExecutable()
    {
        QCOMPARE(logFilePath(), qEnvironmentVariable("XDG_DATA_HOME") +
                                    "/Halvern GmbH/Kestrun Online/tst_logging.log");
    }

    // Runs before any handler is installed, so the warning reaches the test framework.
    void unusableDataDirectoryIsTolerated()
    {
        const QByteArray dataHome = qgetenv("XDG_DATA_HOME");
        const QString blocker = QString::fromLocal8Bit(dataHome) + "/blocker";
        QVERIFY(testsupport::writeBytes(blocker, "a file where a directory must go"));
        qputenv("XDG_DATA_HOME", blocker.toLocal8Bit());
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("^couldn't setup logging\\. exception: +Failed to "
                                                "create subdirectory\\.$"));
        setupLogging();
        qputenv("XDG_DATA_HOME", dataHome);
    }

    void eachStartBeginsANewLog()
    {
        QVERIFY(testsupport::writeBytes(logFilePath(), "line of an earlier run\n"));
        setupLogging();
        QCOMPARE(logLines(), QStringList());
    }

    void lineFormat_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("level");
        QTest::newRow("debug") << int(QtDebugMsg) << "Debug";
        QTest::newRow("info") << int(QtInfoMsg) << "Info";
        QTest::newRow("warning") << int(QtWarningMsg) << "Warning";
        QTest::newRow("critical") << int(QtCriticalMsg) << "Critical";
    }
    void lineFormat()
    {
        QFETCH(int, type);
        QFETCH(QString, level);
        const int before = logLines().size();
        switch (type) {
        case QtDebugMsg:
            qDebug() << "event" << QString("value") << 42;
            break;
        case QtInfoMsg:
            qInfo() << "event" << QString("value") << 42;
            break;
        case QtWarningMsg:
            qWarning() << "event" << QString("value") << 42;
            break;
        default:
            qCritical() << "event" << QString("value") << 42;
        }
        const QStringList lines = logLines();
        QCOMPARE(lines.size(), before + 1);
        const QRegularExpression expected(kTimeAndLocation + level + ": event \"value\" 42$");
        QVERIFY2(expected.match(lines.last()).hasMatch(), qPrintable(lines.last()));
    }

    void threadSuffixNamesTheThread()
    {
        qInfo() << "load configuration" << threadSuffix;
        const QString line = logLines().last();
        const QRegularExpression expected(kTimeAndLocation +
                                          "Info: load configuration +Thread: +0x[0-9a-f]+$");
        QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));
        QString id;
        QDebug(&id) << QThread::currentThreadId();
        QVERIFY(line.endsWith(id.trimmed()));
    }

    void aStalledLogFileNeverHoldsUpTheLoggingThread()
    {
        // Written by the logging thread itself, a line waited for the disk: while an installation
        // filled the disk cache, the window froze for hundreds of milliseconds. Here the log is a
        // pipe that nobody reads for three seconds; logging must not wait for it.
        const QString path = logFilePath();
        QFile::remove(path);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        const int reader = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
        setupLogging();
        std::atomic<bool> stop{false};
        std::thread drain([&] {
            std::this_thread::sleep_for(std::chrono::seconds(3));
            char buffer[65536];
            while (!stop)
                if (::read(reader, buffer, sizeof buffer) <= 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
        });
        QElapsedTimer clock;
        clock.start();
        for (int i = 0; i < 2000; ++i) // far more than a pipe holds
            qInfo().noquote() << QString(200, QChar('z'));
        const qint64 elapsed = clock.elapsed();
        flushLog();
        stop = true;
        drain.join();
        ::close(reader);
        QFile::remove(path);
        setupLogging();
        QVERIFY2(elapsed < 2000, qPrintable(QString::number(elapsed)));
    }

    void linesFromManyThreadsNeverInterleave()
    {
        const int before = logLines().size();
        constexpr int kThreads = 8;
        constexpr int kLinesPerThread = 400;
        QVector<int> workers(kThreads);
        std::iota(workers.begin(), workers.end(), 0);
        QtConcurrent::blockingMap(workers, [](int worker) {
            for (int i = 0; i < kLinesPerThread; ++i)
                qInfo().noquote() << QString("worker %1 line %2 ").arg(worker).arg(i)
                                  << QString(200, QChar('x'));
        });
        const QStringList lines = logLines().mid(before);
        QCOMPARE(lines.size(), kThreads * kLinesPerThread);
        const QRegularExpression wellFormed(kTimeAndLocation +
                                            "Info: worker \\d+ line \\d+  x{200}$");
        for (const QString& line : lines)
            QVERIFY2(wellFormed.match(line).hasMatch(), qPrintable(line));
    }
};

QTEST_GUILESS_MAIN(TestLogging)
#include "tst_logging.moc"
