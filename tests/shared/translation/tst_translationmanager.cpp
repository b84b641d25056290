#include "shared/translation/translationmanager.h"

#include "buildpaths.h"

#include <QCoreApplication>
#include <QDate>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

using orvik::shared::TTranslationManager;

namespace {

const QString kDownloadFailed = QStringLiteral("Download failed");

QString windowText(const char* Text)
{
    return QCoreApplication::translate("orvik::launcher::TLauncherMainWindow", Text);
}

// The numbered placeholders of a text, each once.
QSet<QString> placeholders(const QString& Text)
{
    QSet<QString> found;
    QRegularExpressionMatchIterator it =
        QRegularExpression(QStringLiteral("%\\d")).globalMatch(Text);
    while (it.hasNext())
        found.insert(it.next().captured());
    return found;
}

// The keyboard accelerators of a menu text, "&&" being a plain ampersand.
int accelerators(QString Text)
{
    return int(Text.remove(QStringLiteral("&&")).count(QLatin1Char('&')));
}

} // namespace

class TestTranslationManager : public QObject
{
    Q_OBJECT

private slots:
    void aboutTextsComeFromTheShippedTranslation_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::newRow("English") << "en_US";
        QTest::newRow("German") << "de_DE";
    }

    void aboutTextsComeFromTheShippedTranslation()
    {
        QFETCH(QString, locale);
        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher", KESTRUN_BIN_DIR, QLocale(locale)));

        const QString title = qtTrId("launcher.about.title");
        QVERIFY(!title.isEmpty());
        QVERIFY(title != "launcher.about.title");

        // The about dialog fills exactly six placeholders; a seventh or a missing one would leave
        // a stray "%n" on screen or swallow an address.
        const QString text = qtTrId("launcher.about.text");
        for (int i = 1; i <= 6; ++i)
            QVERIFY2(text.contains(QStringLiteral("%%1").arg(i)), qPrintable(text));
        QVERIFY(!text.contains("%7"));
        const QString filled = text.arg("2002")
                                   .arg(QDate::currentDate().year())
                                   .arg("https://lgpl.example/", "https://lgpl.example/")
                                   .arg("https://qtbase.example/", "https://qtbase.example/");
        QVERIFY2(!filled.contains(QRegularExpression("%\\d")), qPrintable(filled));
        QCOMPARE(filled.count("https://lgpl.example/"), 2);
    }

    void choosesTheLanguageOfTheLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("aboutTitle");
        QTest::addColumn<QString>("downloadFailed");
        QTest::newRow("de_DE") << "de_DE"
                               << "de" << QString::fromUtf8("Über Kestrun Online")
                               << "Download fehlgeschlagen";
        // Any German-speaking country, not only Germany.
        QTest::newRow("de_AT") << "de_AT"
                               << "de" << QString::fromUtf8("Über Kestrun Online")
                               << "Download fehlgeschlagen";
        QTest::newRow("en_US") << "en_US"
                               << "en"
                               << "About Kestrun Online" << kDownloadFailed;
        // No French translation: English, not the identifiers nor a half-loaded German.
        QTest::newRow("fr_FR") << "fr_FR"
                               << "en"
                               << "About Kestrun Online" << kDownloadFailed;
        // The C locale of a bare system names no language at all.
        QTest::newRow("C") << "C"
                           << "en"
                           << "About Kestrun Online" << kDownloadFailed;
    }

    void choosesTheLanguageOfTheLocale()
    {
        QFETCH(QString, locale);
        QFETCH(QString, language);
        QFETCH(QString, aboutTitle);
        QFETCH(QString, downloadFailed);
        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher", KESTRUN_BIN_DIR, QLocale(locale)));
        QCOMPARE(manager.language(), language);
        // Both halves of a translation: the texts looked up by identifier and those by source.
        QCOMPARE(qtTrId("launcher.about.title"), aboutTitle);
        QCOMPARE(windowText("Download failed"), downloadFailed);
    }

    void aLanguageThatDoesNotLoadShowsEnglish()
    {
        QTemporaryDir directory;
        QVERIFY(
            QFile::copy(KESTRUN_BIN_DIR "/launcher.en.qm", directory.filePath("launcher.en.qm")));
        QFile broken(directory.filePath("launcher.de.qm"));
        QVERIFY(broken.open(QIODevice::WriteOnly));
        QCOMPARE(broken.write("not a translation"), qint64(17));
        broken.close();

        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher", directory.path(), QLocale("de_DE")));
        QCOMPARE(manager.language(), QString("en"));
        QCOMPARE(qtTrId("launcher.about.title"), QString("About Kestrun Online"));
    }

    void failedLoadRemovesThePreviousTranslation()
    {
        TTranslationManager manager;
        QVERIFY(manager.installTranslation("launcher", KESTRUN_BIN_DIR, QLocale("de_DE")));
        QTemporaryDir empty;
        QVERIFY(!manager.installTranslation("launcher", empty.path(), QLocale("de_DE")));
        // Without a translation the identifiers themselves show, and the English source texts.
        QCOMPARE(qtTrId("launcher.about.title"), QString("launcher.about.title"));
        QCOMPARE(windowText("Download failed"), kDownloadFailed);
        QCOMPARE(manager.language(), QString("en"));
    }

    void destructionUninstalls()
    {
        {
            TTranslationManager manager;
            QVERIFY(manager.installTranslation("launcher", KESTRUN_BIN_DIR, QLocale("de_DE")));
        }
        QCOMPARE(qtTrId("launcher.about.title"), QString("launcher.about.title"));
        QCOMPARE(windowText("Download failed"), kDownloadFailed);
    }

    // The build brings the translation source up to date with the code before the tests are
    // built: a text added without its German, or one whose German lost a placeholder or a menu
    // accelerator, fails here instead of showing English or a stray "%1" to a German player.
    void everyGermanTextIsTranslated()
    {
        QFile file(KESTRUN_TRANSLATIONS_SOURCE_DIR "/launcher.de.ts");
        QVERIFY(file.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&file);
        QString context;
        QString id;
        QString source;
        QStringList faults;
        int messages = 0;
        while (!xml.atEnd()) {
            xml.readNext();
            if (!xml.isStartElement())
                continue;
            if (xml.name() == QLatin1String("name")) {
                context = xml.readElementText();
            } else if (xml.name() == QLatin1String("message")) {
                id = xml.attributes().value("id").toString();
            } else if (xml.name() == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (xml.name() == QLatin1String("translation")) {
                ++messages;
                const QString type = xml.attributes().value("type").toString();
                const QString translation = xml.readElementText();
                const QString where = context + " / " + (id.isEmpty() ? source : id);
                if (!type.isEmpty() || translation.isEmpty())
                    faults << where + ": " + (type.isEmpty() ? QString("empty") : type);
                // The about text's source is a stand-in; its placeholders are checked above.
                else if (id.isEmpty() && placeholders(source) != placeholders(translation))
                    faults << where + ": placeholders differ";
                else if (id.isEmpty() && accelerators(source) != accelerators(translation))
                    faults << where + ": accelerators differ";
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join('\n')));
        // The window, the tiles and the start-up boxes: a source that lost most of its texts
        // would pass the loop above.
        QVERIFY2(messages > 60, qPrintable(QString::number(messages)));
    }
};

QTEST_GUILESS_MAIN(TestTranslationManager)
#include "tst_translationmanager.moc"
