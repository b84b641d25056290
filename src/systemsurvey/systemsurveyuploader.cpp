#include "systemsurvey/systemsurveyuploader.h"

#include "shared/jsonupload/jsondocumenthttppostsender.h"
#include "systemsurvey/systemsurveyasjsondocumentcreator.h"
#include "systemsurvey/systemsurveycreator.h"
#include "systemsurvey/systemsurveytojsonconverter.h"

#include <QDebug>
#include <QNetworkAccessManager>
#include <QThread>

namespace systemsurvey {

TSystemSurveyUploader::TSystemSurveyUploader(
    std::shared_ptr<::shared::TJsonDocumentHttpPostSender> pSender, const QUrl& TargetUrl,
    std::shared_ptr<TSystemSurveyAsJsonDocumentCreator> pDocumentCreator)
    : TJsonDocumentUploaderBase(std::move(pSender))
    , m_TargetUrl(TargetUrl)
    , m_pDocumentCreator(std::move(pDocumentCreator))
{
    connect(this, &TJsonDocumentUploaderBase::finished, this, [this](bool UploadSuccessful) {
        // The survey is not retried: the next start sends a new one.
        if (UploadSuccessful)
            qInfo() << "System survey uploaded to" << m_TargetUrl.toDisplayString()
                    << " Thread: " << QThread::currentThreadId();
        else
            qWarning() << "System survey upload failed:" << getLastErrorMessage()
                       << "error code:" << getLastErrorCode()
                       << " Thread: " << QThread::currentThreadId();
    });
}

std::unique_ptr<TSystemSurveyUploader>
TSystemSurveyUploader::createForThisMachine(const QUrl& TargetUrl)
{
    auto sender = std::make_shared<::shared::TJsonDocumentHttpPostSender>(
        std::make_shared<QNetworkAccessManager>());
    auto documentCreator = std::make_shared<TSystemSurveyAsJsonDocumentCreator>(
        std::make_shared<TSystemSurveyCreator>(), std::make_shared<TSystemSurveyToJsonConverter>());
    return std::make_unique<TSystemSurveyUploader>(std::move(sender), TargetUrl,
                                                   std::move(documentCreator));
}

void TSystemSurveyUploader::uploadSystemSurvey()
{
    if (m_bUploadStarted)
        return;
    m_bUploadStarted = true;
    qInfo() << "Sending system survey to" << m_TargetUrl.toDisplayString()
            << " Thread: " << QThread::currentThreadId();
    upload(m_TargetUrl, m_pDocumentCreator->createDocument());
}

} // namespace systemsurvey
