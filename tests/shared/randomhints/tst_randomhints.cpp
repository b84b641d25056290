#include "shared/randomhints/randomhints.h"
#include "shared/randomnumbergenerator/randomnumbergenerator.h"

#include <QtTest>

using shared::THint;

namespace {

const QString kStyle = "<style>a { color: #c0c0c0; }</style>";
const QDateTime kNow = QDateTime::fromString("2026-12-07T12:00:00Z", Qt::ISODate);

THint hint(const QString& text, const QString& after = {}, const QString& until = {})
{
    THint h;
    h.RichText = text;
    h.DisplayAfter = QDateTime::fromString(after, Qt::ISODate);
    h.DisplayUntil = QDateTime::fromString(until, Qt::ISODate);
    return h;
}

THint emergency(const QString& text, bool value)
{
    THint h = hint(text);
    h.HasEmergencyFlag = true;
    h.Emergency = value;
    return h;
}

QString chosen(const std::vector<THint>& hints, const QDateTime& now = kNow)
{
    const auto choice = shared::chooseHintToDisplay(hints, now);
    return choice ? choice->RichText : QStringLiteral("<none>");
}

} // namespace

class TestRandomHints : public QObject
{
    Q_OBJECT

private slots:
    void parsesDocument()
    {
        const auto hints = shared::parseHints(
            "[{\"title\": \"Patch\", \"richText\": \"<b>New</b>\", \"imageUrl\": \"i.png\","
            "\"category\": \"news\", \"url\": \"u\", \"displayAfter\": "
            "\"2026-12-01T10:00:00+02:00\","
            "\"displayUntil\": \"not a date\", \"emergency\": false},"
            "{\"title\": \"no text\"}, {\"richText\": \"\"}, \"not an object\", 5,"
            "{\"richText\": \"second\", \"title\": 7, \"emergency\": true}]");
        QCOMPARE(hints.size(), size_t(2));
        QCOMPARE(hints[0].Title, QString("Patch"));
        QCOMPARE(hints[0].RichText, kStyle + "<b>New</b>");
        QCOMPARE(hints[0].ImageUrl, QString("i.png"));
        QCOMPARE(hints[0].Category, QString("news"));
        QCOMPARE(hints[0].Url, QString("u"));
        QCOMPARE(hints[0].DisplayAfter.toUTC(),
                 QDateTime::fromString("2026-12-01T08:00:00Z", Qt::ISODate));
        QVERIFY(!hints[0].DisplayUntil.isValid());
        QCOMPARE(hints[0].HasEmergencyFlag, true);
        QCOMPARE(hints[0].Emergency, false);
        QCOMPARE(hints[1].Title, QString()); // wrong type: empty
        QCOMPARE(hints[1].Emergency, true);
    }

    void documentsWithoutHints_data()
    {
        QTest::addColumn<QByteArray>("document");
        QTest::addColumn<bool>("warns");
        QTest::newRow("not json") << QByteArray("<html>") << true;
        QTest::newRow("object") << QByteArray("{\"richText\": \"x\"}") << false;
        QTest::newRow("empty array") << QByteArray("[]") << false;
    }
    void documentsWithoutHints()
    {
        QFETCH(QByteArray, document);
        QFETCH(bool, warns);
        if (warns)
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression("^Could not parse hints file at offset 1 : "));
        QVERIFY(shared::parseHints(document).empty());
    }

    void choice_data()
    {
        QTest::addColumn<std::vector<THint>>("hints");
        QTest::addColumn<QString>("expected");
        QTest::newRow("expired not shown")
            << std::vector<THint>{hint("old", {}, "2026-12-06T00:00:00Z")} << "<none>";
        QTest::newRow("not yet started not shown")
            << std::vector<THint>{hint("soon", "2026-12-08T00:00:00Z")} << "<none>";
        QTest::newRow("bounds are inclusive")
            << std::vector<THint>{hint("edge", "2026-12-07T12:00:00Z", "2026-12-07T12:00:00Z")}
            << "edge";
        QTest::newRow("dated beats open-ended")
            << std::vector<THint>{hint("open"), hint("dated", "2026-12-01T00:00:00Z"),
                                  hint("dated later", "2026-12-02T00:00:00Z")}
            << "dated";
        QTest::newRow("zones compared as instants")
            << std::vector<THint>{hint("tz", {}, "2026-12-07T13:30:00+01:00")} << "tz";
        QTest::newRow("emergency whatever its dates")
            << std::vector<THint>{hint("dated", "2026-12-01T00:00:00Z"), emergency("urgent", true)}
            << "urgent";
        QTest::newRow("emergency false is never displayed")
            << std::vector<THint>{emergency("listed only", false)} << "<none>";
    }
    void choice()
    {
        QFETCH(std::vector<THint>, hints);
        QFETCH(QString, expected);
        QCOMPARE(chosen(hints), expected);
    }

    void emergencyInTheFutureStillShown()
    {
        THint urgent = emergency("urgent", true);
        urgent.DisplayAfter = kNow.addDays(3);
        QCOMPARE(chosen({hint("open"), urgent}), QString("urgent"));
    }

    void openEndedRotateWithTime()
    {
        const std::vector<THint> hints{hint("a"), hint("b"), hint("c")};
        const QDateTime epoch = QDateTime::fromMSecsSinceEpoch(0, Qt::UTC);
        QCOMPARE(chosen(hints, epoch.addMSecs(1000)), QString("b")); // 1000 mod 3 = 1
        QCOMPARE(chosen(hints, epoch.addMSecs(1001)), QString("c"));
        QCOMPARE(chosen(hints, epoch.addMSecs(1002)), QString("a"));
    }

    void randomNumbersStayInRange()
    {
        auto generator = shared::TRandomNumberGenerator::instance();
        QCOMPARE(generator, shared::TRandomNumberGenerator::instance());
        QSet<quint64> seen;
        for (int i = 0; i < 20000; ++i) {
            const quint64 value = generator->getRandomIndex(0, 61);
            QVERIFY(value <= 61);
            seen.insert(value);
        }
        QCOMPARE(seen.size(), 62); // every index reachable, both ends included
        for (int i = 0; i < 1000; ++i) {
            const qint64 value = generator->getRandomSigned(-3, 3);
            QVERIFY(value >= -3 && value <= 3);
        }
    }
};

QTEST_GUILESS_MAIN(TestRandomHints)
#include "tst_randomhints.moc"
