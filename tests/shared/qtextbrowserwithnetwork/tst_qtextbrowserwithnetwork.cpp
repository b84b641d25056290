#include "shared/network/downloadpool.h"
#include "shared/network/qnetworkaccessmanagerwrapper.h"
#include "shared/qtextbrowserwithnetwork/qtextbrowserwithnetwork.h"

#include "testhttpserver.h"

#include <QBuffer>
#include <QImage>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTextDocument>
#include <QtTest>

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
        auto pool = std::make_shared<shared::TDownloadPool>(
            6,
            std::make_shared<shared::QNetworkAccessManagerWrapper>(
                std::make_shared<QNetworkAccessManager>()),
            true);
        QSignalSpy arrived(pool.get(), &shared::TDownloadPool::success);
        shared::QTextBrowserWithNetwork browser(pool);
        const QUrl url = server.url("/news.png");

        const QImage placeholder =
            browser.loadResource(QTextDocument::ImageResource, url).value<QImage>();
        QCOMPARE(placeholder.size(), QSize(32, 32));
        QCOMPARE(placeholder.format(), QImage::Format_ARGB32_Premultiplied);
        QCOMPARE(qAlpha(placeholder.pixel(16, 16)), 0);

        QVERIFY(arrived.wait(10000));
        QImage image;
        QVERIFY(image.loadFromData(
            browser.loadResource(QTextDocument::ImageResource, url).toByteArray()));
        QCOMPARE(image.size(), QSize(40, 20));
        QCOMPARE(server.requestCount("/news.png"), 1);
    }
};

QTEST_MAIN(TestTextBrowserWithNetwork)
#include "tst_qtextbrowserwithnetwork.moc"
