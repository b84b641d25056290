#include "launcher/progress/linewriter.h"
#include "launcher/progress/progressjsonprinter.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <unistd.h>

using namespace orvik::launcher;

namespace {

struct TReport
{
    qint64 AtMs;
    QString Phase;
    TFileSize Done;
};

} // namespace

Q_DECLARE_METATYPE(std::vector<TReport>)

class TestProgressJsonPrinter : public QObject
{
    Q_OBJECT

private slots:
    void throttlesWithinAPhase_data()
    {
        QTest::addColumn<std::vector<TReport>>("reports");
        QTest::addColumn<QStringList>("expected"); // "phase done rate" of each progress line

        QTest::newRow("ticks faster than the interval")
            << std::vector<TReport>{{0, "download", 10},
                                    {100, "download", 20},
                                    {200, "download", 30},
                                    {250, "download", 40},
                                    {400, "download", 50}}
            << QStringList{"download 10 0", "download 40 120", "download 50 62"};
        // The last numbers of a short phase would otherwise never be seen.
        QTest::newRow("phase change prints the last numbers of the phase before")
            << std::vector<TReport>{{0, "scan", 5}, {100, "scan", 9}, {150, "download", 1}}
            << QStringList{"scan 5 0", "scan 9 26", "download 1 0"};
        QTest::newRow("one report")
            << std::vector<TReport>{{0, "write", 7}} << QStringList{"write 7 0"};
    }

    // Catches lines more often than every 250 ms (a GUI-paced flood for the script), lost final
    // numbers at a phase change or at the end, and rates that are not bytes per second.
    void throttlesWithinAPhase()
    {
        QFETCH(std::vector<TReport>, reports);
        QFETCH(QStringList, expected);
        qint64 now = 0;
        const QList<QJsonObject> lines = capture(
            [&](TProgressJsonPrinter& printer) {
                printer.beginPackage("Live");
                for (const TReport& report : reports) {
                    now = report.AtMs;
                    printer.onProgress("Live", report.Phase, report.Done, 100);
                }
                now += 10;
                printer.onFinished("Live", QString());
                // Reported after the end: nothing belongs to it any more.
                printer.onProgress("Live", "verify", 100, 100);
            },
            [&now] { return now; });

        QStringList progress;
        for (const QJsonObject& line : lines)
            if (line.value("event").toString() == "progress")
                progress << QStringLiteral("%1 %2 %3")
                                .arg(line.value("phase").toString())
                                .arg(line.value("done").toInt())
                                .arg(line.value("rate").toInt());
        QCOMPARE(progress, expected);
        QCOMPARE(lines.last().value("event").toString(), QString("finished"));
        QVERIFY(lines.last().value("error").isNull());
    }

    // Catches names that break the JSON of a line (quotes, newlines) and numbers beyond 32 bits.
    void linesStayJsonWhateverTheyCarry()
    {
        const QList<QJsonObject> lines = capture(
            [](TProgressJsonPrinter& printer) {
                printer.onPlanned("Live \"EU\"\nrealm", TFileSize(5) << 32, 12);
                printer.printClientStarted("/games/live/client", {"--realm=\"eu\"", "a\nb"});
                printer.onFinished("Live", "download");
                printer.printExit(1);
            },
            [] { return qint64(0); });
        QCOMPARE(lines.size(), 4);
        QCOMPARE(lines[0].value("package").toString(), QString("Live \"EU\"\nrealm"));
        QCOMPARE(lines[0].value("download").toDouble(), double(TFileSize(5) << 32));
        QCOMPARE(lines[1].value("arguments").toVariant().toStringList(),
                 QStringList({"--realm=\"eu\"", "a\nb"}));
        QCOMPARE(lines[2].value("error").toString(), QString("download"));
        QCOMPARE(lines[3].value("status").toInt(), 1);
    }

private:
    template <typename TDrive>
    static QList<QJsonObject> capture(TDrive drive, TProgressJsonPrinter::TClock clock)
    {
        int fds[2];
        if (::pipe(fds) != 0)
            return {};
        {
            TProgressJsonPrinter printer(std::make_unique<TLineWriter>(fds[1]), std::move(clock));
            drive(printer);
        } // the writer lets every line out before it goes
        ::close(fds[1]);
        QByteArray output;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0)
            output.append(buffer, int(got));
        ::close(fds[0]);
        QList<QJsonObject> lines;
        for (const QByteArray& line : output.split('\n'))
            if (!line.isEmpty())
                lines << QJsonDocument::fromJson(line).object();
        return lines;
    }
};

QTEST_GUILESS_MAIN(TestProgressJsonPrinter)
#include "tst_progressjsonprinter.moc"
