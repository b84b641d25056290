#include "launcher/configuration/piecewisejsonreader.h"

#include <QtTest>

using namespace orvik::launcher;

namespace {

const QStringList kKeys{QStringLiteral("files"), QStringLiteral("chunks")};

TPiecewiseJsonReader read(const QByteArray& text)
{
    return TPiecewiseJsonReader(text, {QLatin1String("files"), QLatin1String("chunks")});
}

// The document as the reader gives it, with the arrays read in pieces put back.
QJsonDocument reassembled(const TPiecewiseJsonReader& reader)
{
    if (!reader.document().isObject())
        return reader.document();
    QJsonObject object = reader.document().object();
    for (const QString& key : kKeys) {
        if (!object.value(key).isArray())
            continue;
        QJsonArray elements;
        reader.forEachElement(key, [&](const QJsonValue& value) {
            elements.append(value);
            return true;
        });
        object.insert(key, elements);
    }
    return QJsonDocument(object);
}

QByteArray manyFiles(int count)
{
    QByteArray text = "{\"version\": \"3\", \"files\": [";
    for (int i = 0; i < count; ++i)
        text += (i > 0 ? ",\n" : "") + QByteArray("{\"localfile\": \"f") + QByteArray::number(i) +
                "\", \"chunks\": [" + QByteArray::number(i % 7) + "]}";
    return text + "], \"chunks\": []}";
}

} // namespace

class TestPiecewiseJsonReader : public QObject
{
    Q_OBJECT

private slots:
    void readsAsTheWholeParserDoes_data();
    void readsAsTheWholeParserDoes();
};

// Catches pieces cut in the wrong place (inside strings, nested values, escapes), a syntax error
// inside or between the pieces that goes unnoticed, and a key the pieces miss or take twice:
// validity, values and element counts must be those of Qt's parser on the whole text.
void TestPiecewiseJsonReader::readsAsTheWholeParserDoes_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::newRow("many pieces") << manyFiles(1300) << true;
    QTest::newRow("brackets and quotes in strings")
        << QByteArray("{\"files\": [{\"a\": \"]\\\"}, [\"}, \"x,y\", [[1], {\"b\": []}]], "
                      "\"chunks\": [ ]}")
        << true;
    QTest::newRow("arrays elsewhere stay whole")
        << QByteArray("{\"parameters\": [\"-a\"], \"x\": {\"files\": [1]}, \"files\": [2]}")
        << true;
    QTest::newRow("files not an array") << QByteArray("{\"files\": 5, \"chunks\": {}}") << true;
    QTest::newRow("repeated key, the last counts")
        << QByteArray("{\"files\": [1], \"files\": [2, 3]}") << true;
    QTest::newRow("escaped key") << QByteArray("{\"fil\\u0065s\": [1, 2]}") << true;
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF{\"files\": [1]}") << true;
    QTest::newRow("document is an array") << QByteArray("[{\"files\": [1]}]") << true;
    QTest::newRow("trailing comma") << QByteArray("{\"files\": [1, 2,]}") << false;
    QTest::newRow("only a comma") << QByteArray("{\"files\": [,]}") << false;
    QTest::newRow("missing comma") << QByteArray("{\"files\": [1 2]}") << false;
    QTest::newRow("bad value in a later piece")
        << manyFiles(700).replace("\"f650\"", "f650") << false;
    QTest::newRow("mismatched brackets") << QByteArray("{\"files\": [{\"a\": [1}]}") << false;
    QTest::newRow("unterminated string") << QByteArray("{\"files\": [\"abc]}") << false;
    QTest::newRow("garbage after the document") << QByteArray("{\"files\": [1]} x") << false;
    QTest::newRow("error outside the arrays")
        << QByteArray("{\"files\": [1], \"version\": tru}") << false;
}

void TestPiecewiseJsonReader::readsAsTheWholeParserDoes()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
#if defined(__SANITIZE_ADDRESS__)
    // Qt 5.15's parser loses the earlier value of a repeated key: LeakSanitizer would report
    // Qt's leak, and with Qt built without frame pointers no suppression can name it.
    if (QByteArray(QTest::currentDataTag()).startsWith("repeated key"))
        QSKIP("Qt's parser leaks repeated keys under LeakSanitizer");
#endif
    QJsonParseError error{};
    const QJsonDocument whole = QJsonDocument::fromJson(text, &error);
    QCOMPARE(error.error == QJsonParseError::NoError, valid);

    const TPiecewiseJsonReader reader = read(text);
    QCOMPARE(reader.isValid(), valid);
    if (!valid)
        return;
    QCOMPARE(reassembled(reader), whole);
    for (const QString& key : kKeys)
        QCOMPARE(reader.arraySize(key), whole.object().value(key).toArray().size());
}

QTEST_GUILESS_MAIN(TestPiecewiseJsonReader)
#include "tst_piecewisejsonreader.moc"
