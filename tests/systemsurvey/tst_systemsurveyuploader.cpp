#include "systemsurvey/systemsurveyuploader.h"

#include "shared/jsonupload/jsondocumenthttppostsender.h"
#include "systemsurvey/systemsurveyasjsondocumentcreator.h"
#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"

#include "testhttpserver.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QtTest>

using namespace systemsurvey;
using testsupport::TTestHttpServer;

namespace {

constexpr int kWaitMs = 30000;

// A creator that measures nothing and counts how often it is asked.
class TCountingCreator : public TSystemSurveyCreator
{
public:
    TCountingCreator() : TSystemSurveyCreator(nullptr) {}
    TSystemSurvey createSystemSurvey() const override
    {
        ++m_Calls;
        TSystemSurvey survey;
        survey.baseSystem = "Linux";
        survey.systemName = "Debian";
        survey.monitors = {{800, 600, true, 60}};
        survey.processor.logicalProcessorCount = 4;
        return survey;
    }
    mutable int m_Calls = 0;
};

} // namespace

class TestSystemSurveyUploader : public QObject
{
    Q_OBJECT

private slots:
    void postsTheSurveyOnce_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("successful");
        QTest::newRow("accepted") << 200 << QByteArray("{}") << true;
        QTest::newRow("rejected") << 200
                                  << QByteArray("{\"errorCode\": 3, \"errorMessage\": \"no\"}")
                                  << false;
        QTest::newRow("service down") << 503 << QByteArray() << false;
    }
    void postsTheSurveyOnce()
    {
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(bool, successful);
        TTestHttpServer server;
        QVERIFY(server.start());
        testsupport::TTestHttpRoute route;
        route.status = status;
        route.body = answer;
        server.setRoute("/survey", route);

        auto creator = std::make_shared<TCountingCreator>();
        TSystemSurveyUploader uploader(
            std::make_shared<shared::TJsonDocumentHttpPostSender>(
                std::make_shared<QNetworkAccessManager>()),
            server.url("/survey"),
            std::make_shared<TSystemSurveyAsJsonDocumentCreator>(
                creator, std::make_shared<TSystemSurveyToJsonConverter>()));
        QSignalSpy finished(&uploader, &TSystemSurveyUploader::finished);
        if (!successful)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^System survey upload failed"));
        uploader.uploadSystemSurvey();
        uploader.uploadSystemSurvey(); // one survey per uploader
        QVERIFY(finished.wait(kWaitMs));
        QCOMPARE(finished.first().first().toBool(), successful);
        QCOMPARE(creator->m_Calls, 1);
        QCOMPARE(server.requestCount("/survey"), 1);

        const testsupport::TTestHttpRequest request = server.requests().first();
        QCOMPARE(request.method, QByteArray("POST"));
        QCOMPARE(request.header("Content-Type"), QByteArray("application/json"));
        const QJsonObject body = QJsonDocument::fromJson(request.body).object();
        QCOMPARE(body.value("clientID").toString().size(), 40);
        QCOMPARE(body.value("operatingSystem").toObject().value("name").toString(),
                 QString("Debian"));
        QCOMPARE(body.value("cpu").toObject().value("logicalCoreNumber").toInt(), 4);
        QCOMPARE(body.value("monitors").toArray().size(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSystemSurveyUploader)
#include "tst_systemsurveyuploader.moc"
