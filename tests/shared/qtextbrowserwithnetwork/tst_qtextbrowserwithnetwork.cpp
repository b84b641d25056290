#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/qtextbrowserwithnetwork/qtextbrowserwithnetwork.h"

#include "memorypeak.h"
#include "testhttpserver.h"

#include <QBuffer>
#include <QDesktopServices>
#include <QImage>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QtTest>

namespace {

std::shared_ptr<shared::TDownloadPool> makePool()
{
    return std::make_shared<shared::TDownloadPool>(
        6,
        std::make_shared<shared::QNetworkAccessManagerWrapper>(
            std::make_shared<QNetworkAccessManager>()),
        true);
}

// Takes every link the desktop is asked to open, so no test hands one to the real desktop.
class TDesktopLinks : public QObject
{
    Q_OBJECT

public:
    TDesktopLinks()
    {
        for (const char* scheme : {"http", "https", "file", "smb", ""})
            QDesktopServices::setUrlHandler(scheme, this, "open");
    }
    ~TDesktopLinks() override
    {
        for (const char* scheme : {"http", "https", "file", "smb", ""})
            QDesktopServices::unsetUrlHandler(scheme);
    }
    QList<QUrl> opened;

public slots:
    void open(const QUrl& Url) { opened.append(Url); }
};

} // namespace

class TestTextBrowserWithNetwork : public QObject
{
    Q_OBJECT

private slots:
    void webImageShowsAPlaceholderThenItself()
    {
        // Fetched by the text browser itself, a web image would block the window until it came.
        QImage red(40, 20, QImage::Format_RGB32);
        red.fill(Qt::red);
        QByteArray png;
        QBuffer buffer(&png);
        buffer.open(QIODevice::WriteOnly);
        QVERIFY(red.save(&buffer, "PNG"));
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        server.serve("/news.png", png);
        auto pool = makePool();
        QSignalSpy arrived(pool.get(), &shared::TDownloadPool::success);
        shared::QTextBrowserWithNetwork browser(pool);
        const QUrl url = server.url("/news.png");

        const QImage placeholder =
            browser.loadResource(QTextDocument::ImageResource, url).value<QImage>();
        QCOMPARE(placeholder.size(), QSize(32, 32));
        QCOMPARE(placeholder.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(qAlpha(placeholder.pixel(16, 16)), 0);

        QVERIFY(arrived.wait(10000));
        const QImage image =
            browser.loadResource(QTextDocument::ImageResource, url).value<QImage>();
        QCOMPARE(image.size(), QSize(40, 20));
        QCOMPARE(server.requestCount("/news.png"), 1);
    }

    void localFilesAreNeverRead_data()
    {
        QTest::addColumn<QString>("form");
        QTest::newRow("path") << "%1";
        QTest::newRow("file URL") << "file://%1";
        QTest::newRow("relative") << "%2";
    }
    void localFilesAreNeverRead()
    {
        // The text comes from a server: an image naming /dev/zero was read until the memory ran
        // out. A readable picture stands in for the device here.
        QFETCH(QString, form);
        QTemporaryDir directory;
        QImage tall(2, 900, QImage::Format_RGB32);
        tall.fill(Qt::green);
        QVERIFY(tall.save(directory.filePath("tall.png")));
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(directory.path()));
        const QString name = form.arg(directory.filePath("tall.png"), "tall.png");
        shared::QTextBrowserWithNetwork browser(makePool());
        browser.setHtml("<p>News <img src=\"" + name + "\"></p>");
        browser.show();
        QCOMPARE(browser.document()
                     ->resource(QTextDocument::ImageResource, QUrl(name))
                     .value<QImage>()
                     .size(),
                 QSize(32, 32));
        QVERIFY(browser.document()->size().height() < 300);
        QDir::setCurrent(previous);
    }

    void onlyWebLinksReachTheDesktop_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<bool>("opened");
        QTest::newRow("https") << "https://www.kestrun-online.com/news" << true;
        QTest::newRow("network share") << "smb://192.0.2.7/share/run.desktop" << false;
        QTest::newRow("file") << "file:///etc/passwd" << false;
    }
    void onlyWebLinksReachTheDesktop()
    {
        // Any link of a text was handed to the desktop, which opens shares and programs alike;
        // a file link replaced the text by the file.
        QFETCH(QString, link);
        QFETCH(bool, opened);
        TDesktopLinks desktop;
        shared::QTextBrowserWithNetwork browser(makePool());
        browser.setHtml("<p><a href=\"" + link + "\">Read more about it</a></p>");
        browser.show();
        QVERIFY(QTest::qWaitForWindowExposed(&browser));
        QTextCursor cursor(browser.document());
        cursor.setPosition(3);
        const QPoint anchor = browser.cursorRect(cursor).center();
        QVERIFY(!browser.anchorAt(anchor).isEmpty());
        QTest::mouseClick(browser.viewport(), Qt::LeftButton, {}, anchor);
        QCOMPARE(desktop.opened, opened ? QList<QUrl>{QUrl(link)} : QList<QUrl>());
        QVERIFY(browser.toPlainText().startsWith("Read more"));
    }

    void endlessResourceStaysSmall()
    {
        // A picture whose answer never ended was collected until the memory ran out.
        testsupport::TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TTestHttpRoute endless;
        endless.body = QByteArray(65536, 'x');
        endless.streamBytes = testsupport::TTestHttpRoute::kEndless;
        server.setRoute("/endless.png", endless);
        auto pool = makePool();
        QSignalSpy failed(pool.get(), &shared::TDownloadPool::failed);
        QVERIFY(testsupport::resetPeakResident());
        shared::QTextBrowserWithNetwork browser(pool);
        browser.setHtml("<img src=\"" + server.url("/endless.png").toString() + "\">");
        browser.show();
        QTRY_VERIFY_WITH_TIMEOUT(!failed.isEmpty() || testsupport::peakResidentKiB() >
                                                          testsupport::kMemoryCeilingKiB,
                                 30000);
        QVERIFY2(testsupport::peakResidentKiB() < testsupport::kMemoryCeilingKiB,
                 qPrintable(QString::number(testsupport::peakResidentKiB())));
    }
};

QTEST_MAIN(TestTextBrowserWithNetwork)
#include "tst_qtextbrowserwithnetwork.moc"
